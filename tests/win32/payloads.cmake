# Payload resources of the payload extraction tests, generated at build time
# into the build tree: plain and zlib payloads, streams ending exactly at a
# 1 MiB input chunk or inflating to whole MiBs, and streams that must be
# rejected. The expected plain bytes lie beside them in QTR_PAYLOAD_DIR.
set(payload_dir ${CMAKE_CURRENT_BINARY_DIR}/payloads)
set(payload_rc ${payload_dir}/payloads.rc)
add_custom_command(OUTPUT ${payload_rc}
  COMMAND python3 ${CMAKE_CURRENT_SOURCE_DIR}/make_payloads.py ${payload_dir}
  DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/make_payloads.py)
target_sources(win32_tests PRIVATE ${payload_rc})
target_compile_definitions(win32_tests PRIVATE QTR_PAYLOAD_DIR="Z:${payload_dir}")

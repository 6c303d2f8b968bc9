# Payload resources of the file-entry tests, generated at build time into the
# build tree: an old and a new file, the new file whole and deflated, a diff
# stream from old to new plain and deflated, a deflated diff that rebuilds a
# different file, a cut-off zlib stream and a small file, as "DATA" resources
# 6101 to 6108.
set(file_payload_dir ${CMAKE_CURRENT_BINARY_DIR}/file_payloads)
add_custom_command(OUTPUT ${file_payload_dir}/file_payloads.rc
  COMMAND python3 ${CMAKE_CURRENT_SOURCE_DIR}/make_file_payloads.py ${file_payload_dir}
  DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/make_file_payloads.py)
target_sources(win32_tests PRIVATE ${file_payload_dir}/file_payloads.rc)

# A patch made by the authoring tool (the native build named by
# QTR_NATIVE_BUILD) into this build's stub patcher, from the trees of
# make_trees.py, and a copy of it signed with a self-made certificate.
if(NOT QTR_NATIVE_BUILD)
  return()
endif()
set(authored_dir ${CMAKE_CURRENT_BINARY_DIR}/authored)
set(authored_patch ${authored_dir}/patch.exe)
set(authored_signed ${authored_dir}/patch-signed.exe)
add_custom_command(OUTPUT ${authored_patch} ${authored_signed}
  COMMAND python3 ${CMAKE_CURRENT_SOURCE_DIR}/authored/make_trees.py ${authored_dir}/trees
  COMMAND ${QTR_NATIVE_BUILD}/tools/qtr_author --old ${authored_dir}/trees/old --new ${authored_dir}/trees/new
    --from 1.00 --to 1.01 --fast --quiet
    --reg-path SOFTWARE\\\\QtrAuthored\\\\InstallDir --reg-version SOFTWARE\\\\QtrAuthored\\\\Version
    --reg-version2 SOFTWARE\\\\QtrAuthored\\\\Uninstall\\\\DisplayVersion --reg-language SOFTWARE\\\\QtrAuthored\\\\Lang
    --stub $<TARGET_FILE:qtr_patch_stub> --out ${authored_patch}
  COMMAND openssl req -x509 -newkey rsa:2048 -nodes -keyout ${authored_dir}/key.pem -out ${authored_dir}/cert.pem
    -days 3650 -subj /CN=Quarrytide-test-signing
  COMMAND ${CMAKE_COMMAND} -E rm -f ${authored_signed}
  COMMAND osslsigncode sign -certs ${authored_dir}/cert.pem -key ${authored_dir}/key.pem -n Quarrytide
    -in ${authored_patch} -out ${authored_signed}
  DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/authored/make_trees.py qtr_patch_stub ${QTR_NATIVE_BUILD}/tools/qtr_author)
# One patch for a release matrix: two editions by three languages, where no
# single file tells the cells apart. The file only the second edition has is
# 16 MiB, so that a run can be stopped while it is rebuilt.
set(matrix_dir ${authored_dir}/matrix)
set(matrix_patch ${matrix_dir}/patch.exe)
set(matrix_cells "")
foreach(edition censored uncensored)
  foreach(language en fr de)
    list(APPEND matrix_cells --old ${matrix_dir}/trees/${edition}-${language}/1.00
      --new ${matrix_dir}/trees/${edition}-${language}/1.01 --name ${edition}-${language})
  endforeach()
endforeach()
add_custom_command(OUTPUT ${matrix_patch}
  COMMAND python3 ${CMAKE_CURRENT_SOURCE_DIR}/authored/make_matrix_trees.py ${matrix_dir}/trees --only-kib 16384
  COMMAND ${QTR_NATIVE_BUILD}/tools/qtr_author ${matrix_cells} --from 1.00 --to 1.01 --fast --quiet
    --reg-path SOFTWARE\\\\QtrMatrix\\\\InstallDir --reg-version SOFTWARE\\\\QtrMatrix\\\\Version
    --reg-version2 SOFTWARE\\\\QtrMatrix\\\\Uninstall\\\\DisplayVersion --reg-language SOFTWARE\\\\QtrMatrix\\\\Lang
    --stub $<TARGET_FILE:qtr_patch_stub> --out ${matrix_patch}
  DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/authored/make_matrix_trees.py qtr_patch_stub ${QTR_NATIVE_BUILD}/tools/qtr_author)
add_custom_target(e2e_authored_patch DEPENDS ${authored_patch} ${authored_signed} ${matrix_patch})
target_compile_definitions(e2e_tests PRIVATE "QTR_AUTHORED_DIR=\"${authored_dir}\"")

# The Windows build of the authoring tool under Wine: it makes the demo patch
# byte for byte as the native tool does, and verifies it and a signed copy of
# it against both editions' trees.
set(demo_dir ${authored_dir}/demo)
set(demo_native ${demo_dir}/native.exe)
add_custom_command(OUTPUT ${demo_native}
  COMMAND ${QTR_NATIVE_BUILD}/demo/qtr_demo_trees $<TARGET_FILE:qtr_sample_game_1_00>
    $<TARGET_FILE:qtr_sample_game_1_01> ${demo_dir}/trees
  COMMAND ${QTR_NATIVE_BUILD}/tools/qtr_author --quiet
    --old ${demo_dir}/trees/censored/1.00 --new ${demo_dir}/trees/censored/1.01 --name censored
    --old ${demo_dir}/trees/uncensored/1.00 --new ${demo_dir}/trees/uncensored/1.01 --name uncensored
    --key-file qtr.exe --from 1.00 --to 1.01 --stub $<TARGET_FILE:qtr_patch_stub> --out ${demo_native}
  DEPENDS qtr_patch_stub qtr_sample_game_1_00 qtr_sample_game_1_01 ${QTR_NATIVE_BUILD}/tools/qtr_author
    ${QTR_NATIVE_BUILD}/demo/qtr_demo_trees)
add_custom_target(e2e_authored_demo DEPENDS ${demo_native})
add_dependencies(e2e_scenarios e2e_authored_demo e2e_authored_patch qtr_author)
add_test(NAME AuthorExe.MakesTheDemoPatchAsTheNativeToolDoes
  COMMAND ${CMAKE_COMMAND} -DEMULATOR=${CMAKE_CROSSCOMPILING_EMULATOR} -DTOOL=$<TARGET_FILE:qtr_author>
    -DDIR=${demo_dir} -DSTUB=$<TARGET_FILE:qtr_patch_stub> -DCERT=${authored_dir}/cert.pem
    -DKEY=${authored_dir}/key.pem -P ${CMAKE_CURRENT_SOURCE_DIR}/authored/author_exe.cmake)
# A console program that touches neither the registry nor any window: it
# runs beside the scenarios, started first as the longest test.
set_tests_properties(AuthorExe.MakesTheDemoPatchAsTheNativeToolDoes PROPERTIES COST 1000)

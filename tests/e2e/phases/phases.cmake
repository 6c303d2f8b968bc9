# Patchers of the patch-phase scenarios: one per main manifest, all carrying
# the same generated packs and payloads (see make_phases_patch.py), and the
# 1.00 and 1.01 installation trees the scenarios copy and compare against.
set(phases_dir ${CMAKE_CURRENT_BINARY_DIR}/phases_patch)
set(phases_names good no_space negative_space empty_plan bad_pack bad_file no_payload no_crc2)
set(phases_shared 5002.xml 5003.bin 5004.xml 5005.bin 5008.bin 5010.xml 5011.xml 5012.xml 5013.xml
  5014.bin)
set(phases_outputs)
foreach(file ${phases_shared})
  list(APPEND phases_outputs ${phases_dir}/${file})
endforeach()
foreach(name ${phases_names})
  list(APPEND phases_outputs ${phases_dir}/main_${name}.xml)
endforeach()
set(phases_big ${phases_dir}/main_big.xml)
foreach(file 5020.xml 5021.bin 5022.bin 5023.bin 5024.bin 5025.xml 5026.xml)
  list(APPEND phases_big ${phases_dir}/${file})
endforeach()
add_custom_command(OUTPUT ${phases_outputs} ${phases_big}
  COMMAND python3 ${CMAKE_CURRENT_SOURCE_DIR}/phases/make_phases_patch.py ${phases_dir}
  DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/phases/make_phases_patch.py)
add_custom_target(e2e_phases_patch DEPENDS ${phases_outputs} ${phases_big})

foreach(name ${phases_names})
  set(target e2e_phases_${name})
  qtr_add_patcher(${target} 5001 ${phases_dir}/main_${name}.xml
    5002 ${phases_dir}/5002.xml 5003 ${phases_dir}/5003.bin 5004 ${phases_dir}/5004.xml
    5005 ${phases_dir}/5005.bin 5008 ${phases_dir}/5008.bin 5010 ${phases_dir}/5010.xml
    5011 ${phases_dir}/5011.xml 5012 ${phases_dir}/5012.xml 5013 ${phases_dir}/5013.xml
    5014 ${phases_dir}/5014.bin)
  add_dependencies(${target} e2e_phases_patch)
  add_dependencies(e2e_scenarios ${target})
  string(TOUPPER ${target} upper)
  target_compile_definitions(e2e_tests PRIVATE "QTR_PROGRAM_${upper}=\"$<TARGET_FILE:${target}>\"")
endforeach()

# A patch of several files of a few MB for runs interrupted part-way.
qtr_add_patcher(e2e_phases_big 5001 ${phases_dir}/main_big.xml 5020 ${phases_dir}/5020.xml
  5021 ${phases_dir}/5021.bin 5022 ${phases_dir}/5022.bin 5023 ${phases_dir}/5023.bin
  5024 ${phases_dir}/5024.bin 5025 ${phases_dir}/5025.xml 5026 ${phases_dir}/5026.xml)
add_dependencies(e2e_phases_big e2e_phases_patch)
add_dependencies(e2e_scenarios e2e_phases_big)
target_compile_definitions(e2e_tests PRIVATE "QTR_PROGRAM_E2E_PHASES_BIG=\"$<TARGET_FILE:e2e_phases_big>\""
  "QTR_PHASES_PATCH_DIR=\"${phases_dir}\"")

# Build-time generated parts of the fax library: the code table (C++ array
# from t4-codes.tsv) and the two "STR0" string resources (from the readable
# tables error_strings.tsv and string_manager_strings.tsv), embedded as Qt
# resources under :/kiv/.
find_package(Python3 REQUIRED COMPONENTS Interpreter)
set(fax_src ${CMAKE_CURRENT_SOURCE_DIR})
set(fax_gen ${CMAKE_CURRENT_BINARY_DIR}/generated)
set(fax_gen_script ${fax_src}/cmake/fax_gen.py)
file(MAKE_DIRECTORY ${fax_gen})

add_custom_command(OUTPUT ${fax_gen}/t4_code_table.cpp
  COMMAND Python3::Interpreter ${fax_gen_script} codes ${fax_src}/t4-codes.tsv ${fax_gen}/t4_code_table.cpp
  DEPENDS ${fax_gen_script} ${fax_src}/t4-codes.tsv
  COMMENT "Generating the fax code table")
target_sources(${name} PRIVATE ${fax_gen}/t4_code_table.cpp)

set(fax_string_resources)
foreach(pair "ORVO_ERROR_STRINGS_ENGLISH;error_strings.tsv" "KIVSTRMGR_STRINGS;string_manager_strings.tsv")
  list(GET pair 0 resource)
  list(GET pair 1 table)
  add_custom_command(OUTPUT ${fax_gen}/${resource}
    COMMAND Python3::Interpreter ${fax_gen_script} strings ${fax_src}/${table} ${fax_gen}/${resource}
    DEPENDS ${fax_gen_script} ${fax_src}/${table}
    COMMENT "Generating the ${resource} string resource")
  list(APPEND fax_string_resources ${fax_gen}/${resource})
endforeach()
set_source_files_properties(${fax_string_resources} PROPERTIES GENERATED TRUE)
qt_add_resources(${name} fax_strings PREFIX /kiv BASE ${fax_gen}
  FILES ${fax_string_resources} OPTIONS -no-compress)

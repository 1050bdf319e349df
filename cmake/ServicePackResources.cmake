# A service pack is this program plus one set of resources. These settings
# choose them; their defaults give the sample service pack.
set(SERVICEPACK_PAYLOAD "" CACHE FILEPATH
    "The patch package (.msp) to carry; empty for the sample package")
set(SERVICEPACK_TEXTS "${PROJECT_SOURCE_DIR}/resources/sample/patchinfo206.txt"
    CACHE STRING
    "Patch-information text files, given the ids 206, 207, ... in order")
set(SERVICEPACK_TARGET_VERSION "9.1.0.6" CACHE STRING
    "The version a product has once the patch is applied (string 700)")
set(SERVICEPACK_ACCEPTED_VERSIONS "9.0.43.0," CACHE STRING
    "The versions the patch applies to, each followed by a comma (string 900)")

find_package(Python3 REQUIRED COMPONENTS Interpreter)

# The payload file, made from the sample script when none is given.
if(SERVICEPACK_PAYLOAD STREQUAL "")
  set(SP_PAYLOAD_FILE "${CMAKE_BINARY_DIR}/sample/sample.msp")
  add_custom_command(
    OUTPUT ${SP_PAYLOAD_FILE}
    COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_BINARY_DIR}/sample
    COMMAND ${Python3_EXECUTABLE}
            ${PROJECT_SOURCE_DIR}/resources/sample/make_sample_msp.py
            ${SP_PAYLOAD_FILE}
    DEPENDS ${PROJECT_SOURCE_DIR}/resources/sample/make_sample_msp.py
    COMMENT "Making the sample patch package")
  add_custom_target(sp_sample_payload DEPENDS ${SP_PAYLOAD_FILE})
else()
  get_filename_component(SP_PAYLOAD_FILE "${SERVICEPACK_PAYLOAD}" ABSOLUTE)
  add_custom_target(sp_sample_payload)
endif()

# A text for a resource-script string literal.
function(sp_rc_quote out text)
  string(REPLACE "\\" "\\\\" text "${text}")
  string(REPLACE "\"" "\"\"" text "${text}")
  set(${out} "${text}" PARENT_SCOPE)
endfunction()

# Writes the service pack's resource script and returns its path in `out`.
function(servicepack_resource_script out)
  sp_rc_quote(SP_RC_PAYLOAD "${SP_PAYLOAD_FILE}")
  set(SP_RC_TEXTS "")
  set(id 206)
  set(text_files "")
  foreach(text IN LISTS SERVICEPACK_TEXTS)
    get_filename_component(text "${text}" ABSOLUTE)
    list(APPEND text_files "${text}")
    sp_rc_quote(quoted "${text}")
    string(APPEND SP_RC_TEXTS "${id} TXT \"${quoted}\"\n")
    math(EXPR id "${id} + 1")
  endforeach()
  sp_rc_quote(SP_RC_TARGET_VERSION "${SERVICEPACK_TARGET_VERSION}")
  sp_rc_quote(SP_RC_ACCEPTED_VERSIONS "${SERVICEPACK_ACCEPTED_VERSIONS}")
  set(rc "${CMAKE_BINARY_DIR}/servicepack.rc")
  configure_file(${PROJECT_SOURCE_DIR}/resources/servicepack.rc.in ${rc} @ONLY)
  set_source_files_properties(${rc} PROPERTIES
    OBJECT_DEPENDS "${SP_PAYLOAD_FILE};${text_files};${PROJECT_SOURCE_DIR}/resources/catalogue.rc"
    INCLUDE_DIRECTORIES "${PROJECT_SOURCE_DIR}/resources")
  set(SP_TEXT_FILES "${text_files}" PARENT_SCOPE)
  set(${out} ${rc} PARENT_SCOPE)
endfunction()

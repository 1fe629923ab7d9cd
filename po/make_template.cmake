# Writes the message template of the text domain "cport" from the sources:
#   cmake -DSOURCE_DIR=<repo> -DOUTPUT=<file.pot> -DXGETTEXT=<xgettext> -DVERSION=<v> \
#         -DBUGS_ADDRESS=<e-mail> -DCOPYRIGHT_HOLDER=<name> -P make_template.cmake
# The C++ sources of the port component mark their texts with N_ or look them up
# with dgettext/Translated; its Qt Designer forms give their captions. The main
# window is not translated, so app/ is not read.
foreach(variable SOURCE_DIR OUTPUT XGETTEXT VERSION BUGS_ADDRESS COPYRIGHT_HOLDER)
  if(NOT DEFINED ${variable})
    message(FATAL_ERROR "make_template.cmake needs -D${variable}=...")
  endif()
endforeach()

file(GLOB_RECURSE sources RELATIVE "${SOURCE_DIR}" "${SOURCE_DIR}/serial/*.cpp" "${SOURCE_DIR}/serial/*.h")
file(GLOB_RECURSE forms RELATIVE "${SOURCE_DIR}" "${SOURCE_DIR}/serial/*.ui")
list(SORT sources)
list(SORT forms)
set(common --package-name=tarvo --package-version=${VERSION} "--msgid-bugs-address=${BUGS_ADDRESS}"
    "--copyright-holder=${COPYRIGHT_HOLDER}"
    --from-code=UTF-8 --sort-by-file --output=${OUTPUT})

execute_process(
  COMMAND "${XGETTEXT}" ${common} --language=C++ --keyword=N_ --keyword=Translated ${sources}
  WORKING_DIRECTORY "${SOURCE_DIR}" RESULT_VARIABLE code_result)
execute_process(
  COMMAND "${XGETTEXT}" ${common} --join-existing --its=${CMAKE_CURRENT_LIST_DIR}/ui_captions.its ${forms}
  WORKING_DIRECTORY "${SOURCE_DIR}" RESULT_VARIABLE form_result)
if(NOT code_result EQUAL 0 OR NOT form_result EQUAL 0)
  message(FATAL_ERROR "xgettext failed")
endif()

# Writes the message template of a text domain from the sources:
#   cmake -DSOURCE_DIR=<repo> -DOUTPUT=<file.pot> -DXGETTEXT=<xgettext> -DVERSION=<v> \
#         -DBUGS_ADDRESS=<e-mail> -DCOPYRIGHT_HOLDER=<name> -DFOLDERS=<a;b> \
#         -DKEYWORDS=<k;l> -P make_template.cmake
# The C++ sources of the domain's folders mark their texts with N_ or look them
# up with the keywords; Qt Designer forms there give their captions. The
# domain "cport" is serial/ (keywords Translated), "tarvo-cli" cli/ and station/
# (keywords Tr, Format). The main window is not translated, so app/ is not read.
foreach(variable SOURCE_DIR OUTPUT XGETTEXT VERSION BUGS_ADDRESS COPYRIGHT_HOLDER FOLDERS KEYWORDS)
  if(NOT DEFINED ${variable})
    message(FATAL_ERROR "make_template.cmake needs -D${variable}=...")
  endif()
endforeach()

set(sources)
set(forms)
set(keywords --keyword=N_)
foreach(folder ${FOLDERS})
  file(GLOB_RECURSE found RELATIVE "${SOURCE_DIR}" "${SOURCE_DIR}/${folder}/*.cpp" "${SOURCE_DIR}/${folder}/*.h")
  list(APPEND sources ${found})
  file(GLOB_RECURSE found RELATIVE "${SOURCE_DIR}" "${SOURCE_DIR}/${folder}/*.ui")
  list(APPEND forms ${found})
endforeach()
foreach(keyword ${KEYWORDS})
  list(APPEND keywords --keyword=${keyword})
endforeach()
list(SORT sources)
list(SORT forms)
set(common --package-name=tarvo --package-version=${VERSION} "--msgid-bugs-address=${BUGS_ADDRESS}"
    "--copyright-holder=${COPYRIGHT_HOLDER}"
    --from-code=UTF-8 --sort-by-file --output=${OUTPUT})

execute_process(
  COMMAND "${XGETTEXT}" ${common} --language=C++ ${keywords} ${sources}
  WORKING_DIRECTORY "${SOURCE_DIR}" RESULT_VARIABLE code_result)
set(form_result 0)
if(forms)
  execute_process(
    COMMAND "${XGETTEXT}" ${common} --join-existing --its=${CMAKE_CURRENT_LIST_DIR}/ui_captions.its ${forms}
    WORKING_DIRECTORY "${SOURCE_DIR}" RESULT_VARIABLE form_result)
endif()
if(NOT code_result EQUAL 0 OR NOT form_result EQUAL 0)
  message(FATAL_ERROR "xgettext failed")
endif()

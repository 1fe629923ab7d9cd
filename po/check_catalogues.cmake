# Checks the catalogues of a text domain against the sources: the committed
# template holds every message the sources have, and each language's catalogue
# translates every one of them.
#   cmake -DSOURCE_DIR=<repo> -DWORK_DIR=<dir> -DXGETTEXT=<xgettext> -DMSGCMP=<msgcmp> \
#         -DDOMAIN=<domain> -DCATALOGUES=<folder> -DFOLDERS=<a;b> -DKEYWORDS=<k;l> -P check_catalogues.cmake
foreach(variable SOURCE_DIR WORK_DIR XGETTEXT MSGCMP DOMAIN CATALOGUES FOLDERS KEYWORDS)
  if(NOT DEFINED ${variable})
    message(FATAL_ERROR "check_catalogues.cmake needs -D${variable}=...")
  endif()
endforeach()

set(current "${WORK_DIR}/${DOMAIN}-from-sources.pot")
execute_process(
  COMMAND "${CMAKE_COMMAND}" -DSOURCE_DIR=${SOURCE_DIR} -DOUTPUT=${current} -DXGETTEXT=${XGETTEXT}
          -DVERSION=0 -DBUGS_ADDRESS= -DCOPYRIGHT_HOLDER= "-DFOLDERS=${FOLDERS}" "-DKEYWORDS=${KEYWORDS}"
          -P ${CMAKE_CURRENT_LIST_DIR}/make_template.cmake
  RESULT_VARIABLE result ERROR_QUIET)
if(NOT result EQUAL 0)
  message(FATAL_ERROR "the template could not be made from the sources")
endif()

set(failed FALSE)
execute_process(COMMAND "${MSGCMP}" --use-untranslated ${CATALOGUES}/${DOMAIN}.pot ${current}
                RESULT_VARIABLE result)
if(NOT result EQUAL 0)
  message(SEND_ERROR "${CATALOGUES}/${DOMAIN}.pot lacks messages of the sources: build the target ${DOMAIN}_template")
  set(failed TRUE)
endif()
file(GLOB catalogues "${CATALOGUES}/*.po")
foreach(catalogue ${catalogues})
  execute_process(COMMAND "${MSGCMP}" ${catalogue} ${current} RESULT_VARIABLE result)
  if(NOT result EQUAL 0)
    message(SEND_ERROR "${catalogue} does not translate every message of the sources")
    set(failed TRUE)
  endif()
endforeach()
if(failed)
  message(FATAL_ERROR "catalogues out of date")
endif()

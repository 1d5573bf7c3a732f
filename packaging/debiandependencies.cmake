# Read by cpack before it builds a package. The package depends on the libraries the
# programs link (the command line and the window's program). The spreadsheet backend's libraries come with LibreOffice, which is only
# recommended, so dpkg-shlibdeps looks at the backend for the Recommends field.
if(NOT CPACK_GENERATOR STREQUAL "DEB")
    return()
endif()

# dpkg-shlibdeps wants to run in a source package's folder.
file(MAKE_DIRECTORY ${CPACK_VARNEL_WORK_DIR}/debian)
file(TOUCH ${CPACK_VARNEL_WORK_DIR}/debian/control)
set(arguments -O)
foreach(program IN LISTS CPACK_VARNEL_PROGRAMS)
    list(APPEND arguments -e${program})
endforeach()
if(CPACK_VARNEL_BACKEND)
    list(APPEND arguments -dRecommends -e${CPACK_VARNEL_BACKEND})
endif()
execute_process(COMMAND dpkg-shlibdeps ${arguments}
    WORKING_DIRECTORY ${CPACK_VARNEL_WORK_DIR}
    OUTPUT_VARIABLE fields
    ERROR_VARIABLE messages
    RESULT_VARIABLE failed)
if(failed)
    message(FATAL_ERROR "dpkg-shlibdeps (package dpkg-dev) failed: ${failed}\n${messages}")
endif()

if(fields MATCHES "shlibs:Depends=([^\n]*)")
    set(CPACK_DEBIAN_PACKAGE_DEPENDS "${CMAKE_MATCH_1}")
else()
    message(FATAL_ERROR "dpkg-shlibdeps found no libraries for ${CPACK_VARNEL_PROGRAMS}")
endif()
if(fields MATCHES "shlibs:Recommends=([^\n]*)")
    string(APPEND CPACK_DEBIAN_PACKAGE_RECOMMENDS ", ${CMAKE_MATCH_1}")
endif()

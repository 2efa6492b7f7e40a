# Run by CPack on the staged tree before it is packed (CPACK_PRE_BUILD_SCRIPTS):
# adds what a Debian package carries beyond `cmake --install` — the copyright
# file and the changelog under /usr/share/doc/tarn-editor — and compresses the
# manual pages and the changelog the way Debian's tools would (gzip -9n: no
# name or time stamp, so the package's bytes do not depend on when it was
# built).
file(GLOB_RECURSE tarn_pages "${CPACK_TEMPORARY_INSTALL_DIRECTORY}/*/share/man/man1/*.1")
if(NOT tarn_pages)
  message(FATAL_ERROR "no manual pages in the staged tree ${CPACK_TEMPORARY_INSTALL_DIRECTORY}")
endif()
list(GET tarn_pages 0 tarn_first_page)
string(REGEX REPLACE "/share/man/man1/[^/]*$" "" tarn_prefix "${tarn_first_page}")
set(tarn_doc "${tarn_prefix}/share/doc/${CPACK_PACKAGE_NAME}")

file(MAKE_DIRECTORY "${tarn_doc}")
file(COPY_FILE "${CPACK_TARN_DEBIAN_COPYRIGHT}" "${tarn_doc}/copyright")
file(COPY_FILE "${CPACK_TARN_DEBIAN_CHANGELOG}" "${tarn_doc}/changelog")
foreach(file IN LISTS tarn_pages ITEMS "${tarn_doc}/changelog")
  execute_process(COMMAND gzip -9nf "${file}" RESULT_VARIABLE status)
  if(NOT status EQUAL 0)
    message(FATAL_ERROR "gzip failed on ${file}")
  endif()
endforeach()

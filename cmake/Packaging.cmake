# Installation and packages.
#
# `cmake --install` puts the program in bin/ (rule in the main CMakeLists.txt)
# and, on POSIX systems, the manual pages in share/man: the English page as
# man1/txtshade.1 and the French one as fr/man1/txtshade.1. `cpack` then makes
# a Debian package of a POSIX build, and a zip of a Windows build holding
# bin/txtshade.exe and a README in English and in French.

set(CPACK_PACKAGE_NAME txtshade)
set(CPACK_PACKAGE_VENDOR "txtSHADE")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
    "colour the lines of a text stream that contain all the search strings")
set(CPACK_PACKAGE_DESCRIPTION
    "txtshade is a filter: it copies its standard input to its standard output
line by line and shows in a highlight colour every line that contains all
the strings given on its command line, ignoring case (ls -l | txtshade .sh).
Options set the colour (/C:n, Windows console colours 0 to 15) and write the
matching lines to a log file (/L:[name]). Colours are written only to a
terminal. Its messages are in French.")
set(CPACK_PACKAGE_CONTACT "txtSHADE maintainers <maintainers@txtshade.invalid>"
    CACHE STRING "Name and address of the package's maintainer")
set(CPACK_STRIP_FILES ON)
set(CPACK_SOURCE_IGNORE_FILES "/\\\\.git" "/build.*/" "/out/")

if(WIN32)
  # The zip unpacks into one folder: bin/txtshade.exe and the two READMEs,
  # kept with LF line ends here and given CR LF ones for Notepad.
  foreach(readme README.txt LISEZMOI.txt)
    configure_file(packaging/${readme} ${CMAKE_CURRENT_BINARY_DIR}/packaging/${readme} @ONLY
                   NEWLINE_STYLE CRLF)
    install(FILES ${CMAKE_CURRENT_BINARY_DIR}/packaging/${readme} DESTINATION .)
  endforeach()
  set(CPACK_GENERATOR ZIP)
  if(CMAKE_SIZEOF_VOID_P EQUAL 8)
    set(CPACK_SYSTEM_NAME win64)
  else()
    set(CPACK_SYSTEM_NAME win32)
  endif()
else()
  # Manual pages are installed compressed, as Debian and most systems keep them.
  find_program(TXTSHADE_GZIP gzip REQUIRED)
  set(manDir ${CMAKE_CURRENT_BINARY_DIR}/man)
  set(manPages)
  foreach(page en:${CMAKE_CURRENT_SOURCE_DIR}/man/txtshade.en.1
               fr:${CMAKE_CURRENT_SOURCE_DIR}/man/txtshade.1)
    string(REGEX REPLACE "^([a-z]+):(.*)$" "\\1;\\2" page "${page}")
    list(GET page 0 language)
    list(GET page 1 source)
    set(compressed ${manDir}/${language}/txtshade.1.gz)
    add_custom_command(
      OUTPUT ${compressed}
      COMMAND ${CMAKE_COMMAND} -E copy ${source} ${manDir}/${language}/txtshade.1
      COMMAND ${TXTSHADE_GZIP} -9 -n -f ${manDir}/${language}/txtshade.1
      DEPENDS ${source}
      VERBATIM)
    list(APPEND manPages ${compressed})
  endforeach()
  add_custom_target(txtshade_man ALL DEPENDS ${manPages})
  install(FILES ${manDir}/en/txtshade.1.gz DESTINATION share/man/man1)
  install(FILES ${manDir}/fr/txtshade.1.gz DESTINATION share/man/fr/man1)

  set(CPACK_GENERATOR DEB)
  set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
  set(CPACK_DEBIAN_PACKAGE_SECTION utils)
  set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
  # The dependencies (libc6, libstdc++6, libgcc-s1) come from dpkg-shlibdeps.
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
endif()

include(CPack)

# The parts of the build that only Windows has. Included from the top-level
# CMakeLists.txt once the targets exist.

# The program's narrow texts are stored in Windows-1252, the ANSI code page
# they are written for; the sources themselves stay UTF-8.
target_compile_options(txtshade_core PUBLIC $<$<COMPILE_LANGUAGE:CXX>:-finput-charset=UTF-8>
                                            $<$<COMPILE_LANGUAGE:CXX>:-fexec-charset=CP1252>)

# The version record of txtshade.exe.
enable_language(RC)
target_sources(txtshade PRIVATE src/txtshade.rc)

if(TARGET txtshade_tests)
  # Tests of the Win32 calls themselves, under the code pages of the system.
  target_sources(txtshade_tests PRIVATE ${PROJECT_SOURCE_DIR}/tests/platform_win32_test.cpp)

  # Reads the version record back from the built program.
  add_executable(txtshade_version_check tests/version_record_check.cpp)
  target_link_libraries(txtshade_version_check PRIVATE version)
  add_test(NAME version_record COMMAND txtshade_version_check txtshade.exe
           WORKING_DIRECTORY $<TARGET_FILE_DIR:txtshade>)
endif()

# The built program run as a user runs it, under wine: the case table with
# its Windows expectations, and the colours of wine's console in tmux.
if(TARGET txtshade_tests AND TXTSHADE_WINE)
  find_package(Python3 COMPONENTS Interpreter REQUIRED)
  add_test(NAME end_to_end
    COMMAND ${Python3_EXECUTABLE} ${PROJECT_SOURCE_DIR}/tests/e2e/run_cases.py
            $<TARGET_FILE:txtshade> --runner ${TXTSHADE_WINE} --platform windows)
  add_test(NAME console_colours
    COMMAND ${Python3_EXECUTABLE} ${PROJECT_SOURCE_DIR}/tests/e2e/wine_console_colours.py
            $<TARGET_FILE:txtshade> --wine ${TXTSHADE_WINE})
  set_tests_properties(console_colours PROPERTIES SKIP_RETURN_CODE 77)
endif()

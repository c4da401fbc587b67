# Fails the build when a text of the window has no finished translation:
# lupdate merges the sources' texts into a copy of each .ts, and any message
# it marks unfinished (new in the code, or never translated) stops the build.
# Run by ui/CMakeLists.txt with LUPDATE, TS_FILES, SOURCES and STAMP set.
foreach(ts IN LISTS TS_FILES)
  get_filename_component(name "${ts}" NAME)
  set(copy "${STAMP}.${name}")
  configure_file("${ts}" "${copy}" COPYONLY)
  execute_process(COMMAND "${LUPDATE}" -silent -locations none -no-obsolete ${SOURCES} -ts "${copy}"
                  RESULT_VARIABLE result)
  if(NOT result EQUAL 0)
    message(FATAL_ERROR "lupdate failed on ${ts}")
  endif()
  file(READ "${copy}" text)
  string(REGEX MATCHALL "<source>[^<]*</source>[ \t\r\n]*<translation type=\"unfinished\"" missing "${text}")
  if(missing)
    list(JOIN missing "\n" shown)
    message(FATAL_ERROR "${ts} lacks translations (run the update_translations target, "
                        "then translate every unfinished message):\n${shown}")
  endif()
endforeach()
file(TOUCH "${STAMP}")

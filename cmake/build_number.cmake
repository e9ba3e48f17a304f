# The build number: the count of commits that made this tree, which only grows along a branch.
# A shallow clone knows only its last commits and a source archive none, so there the number is
# not known ("unknown", 0) rather than a small count that would look older than a build already
# installed; a release made from such a tree gives its number with -DWHEEL_BUILD_NUMBER_GIVEN=N,
# and scripts/dist refuses to make installers of an unknown one.
# Run as a script (cmake -DSOURCE_DIR=<tree> [-DWHEEL_BUILD_NUMBER_GIVEN=N] -P build_number.cmake)
# it prints "<number> <source>", the source being history, given or unknown.
function(wheel_build_number source_dir out_number out_source)
  set(number 0)
  set(source unknown)
  if(WHEEL_BUILD_NUMBER_GIVEN MATCHES "^[0-9]+$")
    set(number ${WHEEL_BUILD_NUMBER_GIVEN})
    set(source given)
  else()
    find_package(Git QUIET)
    if(GIT_FOUND)
      # The tree's own history: an archive unpacked inside another clone has none.
      execute_process(COMMAND ${GIT_EXECUTABLE} rev-parse --show-toplevel
        WORKING_DIRECTORY ${source_dir} OUTPUT_VARIABLE top OUTPUT_STRIP_TRAILING_WHITESPACE
        ERROR_QUIET)
      file(REAL_PATH "${source_dir}" source_real)
      if(top)
        file(REAL_PATH "${top}" top)
      endif()
      execute_process(COMMAND ${GIT_EXECUTABLE} rev-parse --is-shallow-repository
        WORKING_DIRECTORY ${source_dir} OUTPUT_VARIABLE shallow OUTPUT_STRIP_TRAILING_WHITESPACE
        RESULT_VARIABLE shallow_result ERROR_QUIET)
      execute_process(COMMAND ${GIT_EXECUTABLE} rev-list --count HEAD
        WORKING_DIRECTORY ${source_dir} OUTPUT_VARIABLE commits OUTPUT_STRIP_TRAILING_WHITESPACE
        RESULT_VARIABLE count_result ERROR_QUIET)
      if(top STREQUAL source_real AND shallow_result EQUAL 0 AND shallow STREQUAL "false"
         AND count_result EQUAL 0
         AND commits MATCHES "^[0-9]+$")
        set(number ${commits})
        set(source history)
      endif()
    endif()
  endif()
  set(${out_number} ${number} PARENT_SCOPE)
  set(${out_source} ${source} PARENT_SCOPE)
endfunction()

if(CMAKE_SCRIPT_MODE_FILE STREQUAL CMAKE_CURRENT_LIST_FILE)
  wheel_build_number("${SOURCE_DIR}" number source)
  message("${number} ${source}")
endif()

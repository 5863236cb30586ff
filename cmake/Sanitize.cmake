# The sanitizer build (OSTRACOM_SANITIZE): every target compiled and linked with AddressSanitizer
# (including LeakSanitizer) and UndefinedBehaviorSanitizer. Undefined behaviour stops the program
# like a memory error, so a report can never scroll by in a test that still passes.
if(NOT CMAKE_CXX_COMPILER_ID MATCHES "GNU|Clang")
  message(FATAL_ERROR "OSTRACOM_SANITIZE needs g++ or clang++")
endif()

set(OSTRACOM_SANITIZE_FLAGS -fsanitize=address,undefined -fno-sanitize-recover=undefined)
add_compile_options(${OSTRACOM_SANITIZE_FLAGS} -fno-omit-frame-pointer)
add_link_options(${OSTRACOM_SANITIZE_FLAGS})
# -O1 instead of -O2: a third less compile time, and reports keep more of their frames.
set(CMAKE_CXX_FLAGS_RELWITHDEBINFO "-O1 -g -DNDEBUG")

# The runtime's options are compiled into each program rather than left to the environment,
# so that a test, a program a test starts (ostracom-cli, the emulators) and a run by hand all
# stop with the same exit code and read the same suppression files.
set(OSTRACOM_SANITIZER_OPTIONS_SOURCE
  ${PROJECT_SOURCE_DIR}/tests/sanitizers/default_options.cpp)
set(OSTRACOM_SANITIZER_OPTIONS_DEFINITIONS
  "OSTRACOM_LSAN_SUPPRESSIONS=\"${PROJECT_SOURCE_DIR}/tests/sanitizers/lsan.supp\""
  "OSTRACOM_UBSAN_SUPPRESSIONS=\"${PROJECT_SOURCE_DIR}/tests/sanitizers/ubsan.supp\"")

# Adds the options to every executable defined so far in this directory and below; called
# once, after the last add_subdirectory.
function(ostracom_sanitize_executables)
  set(dirs ${PROJECT_SOURCE_DIR})
  while(dirs)
    list(POP_FRONT dirs dir)
    get_property(targets DIRECTORY ${dir} PROPERTY BUILDSYSTEM_TARGETS)
    foreach(target IN LISTS targets)
      get_target_property(type ${target} TYPE)
      if(type STREQUAL "EXECUTABLE")
        target_sources(${target} PRIVATE ${OSTRACOM_SANITIZER_OPTIONS_SOURCE})
        # Source properties belong to a directory: set them where the target is.
        set_source_files_properties(${OSTRACOM_SANITIZER_OPTIONS_SOURCE} TARGET_DIRECTORY
          ${target} PROPERTIES COMPILE_DEFINITIONS "${OSTRACOM_SANITIZER_OPTIONS_DEFINITIONS}")
      endif()
    endforeach()
    get_property(subdirs DIRECTORY ${dir} PROPERTY SUBDIRECTORIES)
    list(APPEND dirs ${subdirs})
  endwhile()
endfunction()

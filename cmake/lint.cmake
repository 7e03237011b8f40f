# Static analysis of the program's sources (and the simulated platform they compile against on
# this host) as tests: each tool must end without a finding. Suppressions are inline, each with
# its reason on the same line.
find_program(CLANG_TIDY NAMES clang-tidy clang-tidy-14 REQUIRED)
find_program(CPPCHECK cppcheck REQUIRED)
set(lint_globs cleanup/*.cpp registry/*.cpp commands/*.cpp tests/platform/sim/sim_*.cpp)
set(lint_sources "")
foreach(glob IN LISTS lint_globs)
  file(GLOB found CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/${glob})
  list(APPEND lint_sources ${found})
endforeach()
add_test(NAME clang_tidy
         COMMAND ${CLANG_TIDY} -p ${PROJECT_BINARY_DIR} --quiet --warnings-as-errors=* ${lint_sources}
         WORKING_DIRECTORY ${PROJECT_SOURCE_DIR})
add_test(NAME cppcheck
         COMMAND ${CPPCHECK} --project=${PROJECT_BINARY_DIR}/compile_commands.json --std=c++17
                 --enable=warning,style,performance,portability --inline-suppr --error-exitcode=1
                 --quiet --suppress=missingIncludeSystem
                 "--template={file}:{line}: {severity} ({id}): {message}"
         WORKING_DIRECTORY ${PROJECT_SOURCE_DIR})

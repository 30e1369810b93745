# quillfen_add_fuzz_target(NAME <name> LIBS <libraries...>)
# Builds the libFuzzer executable fuzz_<name> from fuzz_<name>.cpp (which defines
# LLVMFuzzerTestOneInput) and lists <name> in the build folder's fuzz/targets.txt, which
# scripts/fuzz.sh runs one by one from a copy of fuzz/corpus/<name>/.
include_guard(GLOBAL)

set_property(GLOBAL PROPERTY QUILLFEN_FUZZ_TARGETS "")

function(quillfen_add_fuzz_target)
  cmake_parse_arguments(ARG "" "NAME" "LIBS" ${ARGN})
  set(target fuzz_${ARG_NAME})
  add_executable(${target} ${CMAKE_CURRENT_SOURCE_DIR}/${target}.cpp)
  target_link_libraries(${target} PRIVATE ${ARG_LIBS} quillfen_fuzzsupport Threads::Threads)
  target_link_options(${target} PRIVATE -fsanitize=fuzzer)
  add_dependencies(fuzz_targets ${target})
  set_property(GLOBAL APPEND PROPERTY QUILLFEN_FUZZ_TARGETS ${ARG_NAME})
endfunction()

# Writes the list of targets, one name a line, for scripts/fuzz.sh.
function(quillfen_write_fuzz_target_list)
  get_property(names GLOBAL PROPERTY QUILLFEN_FUZZ_TARGETS)
  list(JOIN names "\n" lines)
  file(WRITE ${CMAKE_CURRENT_BINARY_DIR}/targets.txt "${lines}\n")
endfunction()

# Terminal emulation: host output through the interpreter, and termcap files.
quenlor_fuzzer(term_write_fuzzer term_write_fuzzer.cpp LIBS quenlor_term)
quenlor_fuzzer(termcap_load_fuzzer termcap_load_fuzzer.cpp LIBS quenlor_term)
foreach(t term_write_fuzzer termcap_load_fuzzer)
  target_compile_definitions(${t} PRIVATE QUENLOR_SOURCE_DIR="${CMAKE_SOURCE_DIR}")
endforeach()
# Coverage feedback needs the library itself instrumented, not only the
# fuzzer's entry point.
target_compile_options(quenlor_term PRIVATE -fsanitize=fuzzer-no-link)

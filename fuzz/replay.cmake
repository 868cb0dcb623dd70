# Each fuzz target built with fuzz/replay.cc instead of libFuzzer, in every
# preset, and run over its seeds (and the reader's golden inputs) as a test.
function(mz_fuzz_replay name)
  cmake_parse_arguments(PARSE_ARGV 1 arg "" "" "INPUTS")
  add_executable(replay_${name} ${PROJECT_SOURCE_DIR}/fuzz/${name}.cc
    ${PROJECT_SOURCE_DIR}/fuzz/replay.cc)
  target_link_libraries(replay_${name} PRIVATE mzcore)
  add_test(NAME replay_${name} COMMAND replay_${name} ${arg_INPUTS})
endfunction()

set(mz_reader_inputs ${PROJECT_SOURCE_DIR}/fuzz/corpus/read_object
  ${PROJECT_SOURCE_DIR}/tests/data/reader)
mz_fuzz_replay(read_object INPUTS ${mz_reader_inputs})
mz_fuzz_replay(codecs INPUTS ${PROJECT_SOURCE_DIR}/fuzz/corpus/codecs ${mz_reader_inputs})

# Each fuzz target built with fuzz/replay.cc instead of libFuzzer, in every
# preset, and run over its seeds (and the reader's golden inputs) as a test.
foreach(name read_object codecs)
  add_executable(replay_${name} ${PROJECT_SOURCE_DIR}/fuzz/${name}.cc
    ${PROJECT_SOURCE_DIR}/fuzz/replay.cc)
  target_link_libraries(replay_${name} PRIVATE mzcore)
endforeach()
set(mz_reader_inputs ${PROJECT_SOURCE_DIR}/fuzz/corpus/read_object
  ${PROJECT_SOURCE_DIR}/tests/data/reader)
add_test(NAME replay_read_object COMMAND replay_read_object ${mz_reader_inputs})
add_test(NAME replay_codecs COMMAND replay_codecs ${PROJECT_SOURCE_DIR}/fuzz/corpus/codecs
  ${mz_reader_inputs})
# The card normalizer over every card the tests hold.
add_executable(replay_normalize_card ${PROJECT_SOURCE_DIR}/fuzz/normalize_card.cc
  ${PROJECT_SOURCE_DIR}/fuzz/replay.cc)
target_link_libraries(replay_normalize_card PRIVATE mzcore hostsupport)
add_test(NAME replay_normalize_card COMMAND replay_normalize_card ${mz_reader_inputs}
  ${PROJECT_SOURCE_DIR}/tests/host/data)

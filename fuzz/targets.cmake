# The fuzz targets: fuzz/<name>.cc each, built by fuzz/CMakeLists.txt with
# libFuzzer and replayed over their corpora by the test suite.
set(TOLLBOOK_FUZZ_TARGETS
  line_merge_fuzz
  message_attachment_fuzz
  parser_summary_fuzz
  imap_parser_fuzz
)

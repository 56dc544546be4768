// Every container the real binary writes must inflate, with an independent
// decoder, back to exactly its source, with the CRC right after the stream.
#include <gtest/gtest.h>

#include "tests/support/test_support.h"

namespace pelk::test {
namespace {

class CorpusRoundTrip : public ::testing::TestWithParam<const char*> {};

TEST_P(CorpusRoundTrip, InflatesToSource) {
  const auto dir = corpus_dir();
  if (!dir) GTEST_SKIP() << "corpus not found at " << PELK_CORPUS_DIR;
  const bytes source = read_file(*dir / GetParam());
  const bytes container = compress_with_pelk(source, GetParam());
  EXPECT_EQ(verify_container(container, source, GetParam()), "");
}

INSTANTIATE_TEST_SUITE_P(Corpus, CorpusRoundTrip,
                         ::testing::Values("alice29.txt", "asyoulik.txt", "fireworks.jpeg",
                                           "geo.protodata", "html", "html_x_4", "kppkn.gtb",
                                           "lcet10.txt", "paper-100k.pdf", "plrabn12.txt",
                                           "urls.10K", "dickens", "mr", "reymont", "xml"),
                         [](const auto& param_info) {
                           std::string name = param_info.param;
                           for (char& ch : name) if (!isalnum(static_cast<unsigned char>(ch))) ch = '_';
                           return name;
                         });

}  // namespace
}  // namespace pelk::test

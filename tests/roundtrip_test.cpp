// SPDX-License-Identifier: MIT
// Every corpus file through the real binary: the container must inflate,
// with an independent decoder, back to exactly its source with the CRC right
// after the stream, and its bytes (stamp masked) must not change: the
// digests below freeze the output, so any change to the engine that alters
// a single output byte fails here and has to be deliberate. They hold for
// every thread count: parallel compression writes the same bytes.
#include <gtest/gtest.h>

#include "tests/support/test_support.h"

namespace pelk::test {
namespace {

struct corpus_case {
  const char* name;
  const char* sha256;  // of the container with bytes 4-7 zeroed
};

std::string sha256_of(const bytes& data) {
  temp_dir dir;
  write_file(dir / "data", data);
  const run_result run = run_program("/usr/bin/sha256sum", {"sha256sum", "data"}, dir.path());
  return run.status == 0 ? run.out.substr(0, 64) : "sha256sum failed: " + run.err;
}

class CorpusRoundTrip : public ::testing::TestWithParam<std::tuple<corpus_case, int>> {};

TEST_P(CorpusRoundTrip, InflatesToSourceWithFrozenBytes) {
  const auto dir = corpus_dir();
  if (!dir) GTEST_SKIP() << "corpus not found at " << PELK_CORPUS_DIR;
  const auto& [c, threads] = GetParam();
  const bytes source = read_file(*dir / c.name);
  temp_dir work;
  const run_result run = run_pelk({(*dir / c.name).string(), "out.plk"}, work.path(),
                                  {"PELK_THREADS=" + std::to_string(threads)});
  ASSERT_EQ(run.status, 0) << run.err;
  const bytes container = read_file(work / "out.plk");
  EXPECT_EQ(verify_container(container, source, c.name), "");
  EXPECT_EQ(sha256_of(mask_stamp(container)), c.sha256);
}

INSTANTIATE_TEST_SUITE_P(
    Corpus, CorpusRoundTrip,
    ::testing::Combine(::testing::Values(
        corpus_case{"alice29.txt", "0c435c9d3c8871ce026324b1ec7549136887d97c4ffef6f33d1a9e6111e05afa"},
        corpus_case{"asyoulik.txt", "42a3c97d990e560c557fb8ef60312d1c89bada3e6a86936620b2c955389deb0c"},
        corpus_case{"fireworks.jpeg", "0d4a5c0c64a62c149149b9ee5e7bc74156efdb9f8e13661edb37bd8aa8fdd8d5"},
        corpus_case{"geo.protodata", "bc52ea7acde48e223d13f8ceaf3c78ea83f1872033d3de1bacda6d58e4b1ffbb"},
        corpus_case{"html", "3b5f2f6b1062b7ebbef37549d4e48c491d3adfbd79a72b6e98ea8ac5a9ffa90a"},
        corpus_case{"html_x_4", "d799c4854c2bdfcc5eaf5bdae1fe029da665c167a642270637290594efe19f51"},
        corpus_case{"kppkn.gtb", "d8c6aa3f7ab35839c83545cff35c4c8af7e61ee99a90ca97609c2a4c3f3dce00"},
        corpus_case{"lcet10.txt", "46c9c81947288a587b884952530ce273ed85329e01db5fe735454f54fd689832"},
        corpus_case{"paper-100k.pdf", "c1ff227e7b4727354493674e0835fef710187f08b79253e3db132b68c4e0dbeb"},
        corpus_case{"plrabn12.txt", "cceb8de3b4f114f2e7eecbe58ba54673770fb9eb773c90c06d75b4a1b0a5b233"},
        corpus_case{"urls.10K", "9003f1a76500cce61da7115059e51397214b38191352b4f91e5906cf17ee5a59"},
        corpus_case{"dickens", "98e92c3566fb714b144f86630131b0150d7412df9c364b70f265cce9c0fdb13e"},
        corpus_case{"mr", "e78ef9d0e04708876509fa70d82b516e78a700b153362303ef242010287a4765"},
        corpus_case{"reymont", "24c3fd5d692430e16a791100b413ad41c7b0641eb39e689c83b30054c9747f47"},
        corpus_case{"xml", "074320fafc2c697f4bdff9e9a12016600c50e838d0959ba481fbc9435565d2c1"}),
                       ::testing::Values(1, 2, 3, 8)),
    [](const auto& param_info) {
      std::string name = std::get<0>(param_info.param).name;
      for (char& ch : name) {
        if (!isalnum(static_cast<unsigned char>(ch))) ch = '_';
      }
      return name + "_" + std::to_string(std::get<1>(param_info.param)) + "_threads";
    });

}  // namespace
}  // namespace pelk::test

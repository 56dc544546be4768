// SPDX-License-Identifier: MIT
// Reading the engine's stored codes back in the order they are sent.
#pragma once

#include <string>

#include "engine/block_state.h"

namespace pelk::test {

// A code as sent, first bit first; codes are stored so that bit 0 goes first.
inline std::string sent_bits(const code_entry& e) {
  std::string s;
  for (int i = 0; i < e.parent_or_len; ++i) s += char('0' + ((e.freq_or_code >> i) & 1));
  return s;
}

}  // namespace pelk::test

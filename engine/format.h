// SPDX-License-Identifier: MIT
// The numbers of this engine's window, hash chains and blocks, each stated
// once, beside those of the format itself. Everything else in the engine
// refers to these names.
#pragma once

#include <cstdint>

#include "common/deflate_format.h"

namespace pelk {

// --- Window -----------------------------------------------------------------
// The window holds two halves; a slide moves the upper half down over the
// lower one, so a match source can lie at most one half back.
inline constexpr uint32_t half_window = 32768;
inline constexpr uint32_t window_capacity = 2 * half_window;

// Keep this many bytes ahead of the scan position while input remains: the
// longest match, plus the two bytes the next hash needs, plus one.
inline constexpr uint32_t min_lookahead = max_match + min_match + 1;

// Farthest a match may start behind the scan position. Together with the
// look-ahead it fits one half window, so a match never reaches across a slide.
inline constexpr uint32_t max_distance = half_window - min_lookahead;

// The window slides when the scan position reaches this point.
inline constexpr uint32_t slide_threshold = window_capacity - min_lookahead;

// A 3-byte match farther back than this costs more to code than three
// literals usually do, so the lazy parser drops it.
inline constexpr uint32_t too_far_for_3 = 4096;

// --- Hash chains ------------------------------------------------------------
inline constexpr uint32_t hash_bits = 15;
inline constexpr uint32_t hash_size = 1u << hash_bits;
inline constexpr uint32_t hash_mask = hash_size - 1;
inline constexpr uint32_t hash_shift = 5;  // three shifts push a byte out of 15 bits

// --- Blocks -----------------------------------------------------------------
// A block holds at most this many symbols; one more would let a frequency
// sum (with the end-of-block code) overflow 16 bits.
inline constexpr uint32_t symbol_buffer_size = 32768;
inline constexpr uint32_t max_block_symbols = symbol_buffer_size - 1;

// The early-end estimate runs at every multiple of this many symbols.
inline constexpr uint32_t block_checkpoint = 4096;

static_assert(max_distance == 32506);
static_assert(slide_threshold == 65274);
static_assert(min_lookahead == 262);
static_assert(max_block_symbols / 8 < symbol_buffer_size / 8,
              "the flag byte of a partial last group must fit");

}  // namespace pelk

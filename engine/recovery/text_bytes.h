// Key recovery's model of text: how likely a byte is in the text a program hides, alone and
// after the byte before it.
#pragma once

#include <array>
#include <cstdint>

namespace veskor {

// log2 of a byte's share of text (English words, code, settings, markup, URLs, a little 8-bit
// text): -2.7 for a space, about -20 for a zero byte.
float TextByteBits(uint8_t byte);

// log2 of the chance of `byte` after `before` in text: the byte pairs of the text model's source
// texts, smoothed toward TextByteBits so that a pair they lack is still possible.
float TextPairBits(uint8_t before, uint8_t byte);

// The same as tables for the hot loops: TextByteTable()[b], TextPairTable()[before * 256 + b].
const float* TextByteTable();
const float* TextPairTable();

// The Walsh-Hadamard transform of 256 values, in place. The sums over b of f(b) * g(b ^ k), for
// every k at once, are the transform of the product of the transforms of f and g, over 256.
void WalshTransform(std::array<float, 256>& f);
// The transform of TextByteTable(): with it, the bits of a column's bytes under each of the 256
// key bytes take two transforms instead of 65,536 steps.
const float* TextByteTransform();

// Builds the tables on the first call; call it before any body that runs under a fault guard.
void PrepareTextBytes();

}  // namespace veskor

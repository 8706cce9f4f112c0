// The two CPU filters of the post-processing thread. Frames are width x
// height pixels of 3 bytes (blue, green, red), bottom row first, rows not
// padded. Results are bit-identical to a plain scalar loop in single
// precision on every CPU; only the speed depends on the instruction set.
#pragma once

#include <cstdint>

namespace vortigo {

// Merges the super-sample pass B into pass 0 A, in place. For rows y = 1 ..
// height-3 and columns x = 1 .. width-3, A(x, y) x 0.5 plus B at (x, y),
// (x+1, y), (x, y+1), (x+1, y+1) x 0.125 each, truncated, goes to
// A(x, y - 1): one row lower. Columns 0, width-2, width-1 and rows
// height-3 .. height-1 keep their colour; below 4 pixels in either direction
// nothing changes.
void superSampleMerge(uint8_t* a, const uint8_t* b, int width, int height);

// Writes every pixel of `destination` exactly once from `source` (no overlap):
// - corners: copied;
// - bottom and top row (one row when height is 1), inner columns: blended
//   with the mean of the left and right neighbour;
// - left and right column (one column when width is 1), inner rows: blended
//   with the mean of the pixels below and above;
// - inner pixels: blended with the mean of their 3 x 3 block, centre included.
// The blend moves a channel towards the mean in proportion to its distance
// from it, reaching the mean at a distance of 128. These rules reach every
// pixel at any size of at least 1 x 1; non-positive sizes write nothing.
// Large frames are shared with one helper thread, started on first use.
void despeckle(const uint8_t* source, uint8_t* destination, int width, int height);

// The same two filters on deep frames of 16-bit samples: the merge is the
// same mean, truncated; despeckle reaches the mean at a distance of 32896
// (128 on the 8-bit scale). One thread, plain loops: deep frames are
// stills, where the drawing costs far more.
void superSampleMerge16(uint16_t* a, const uint16_t* b, int width, int height);
void despeckle16(const uint16_t* source, uint16_t* destination, int width, int height);

// The instruction set the filters run with. Chosen once from the CPU; tests
// pin each variant the CPU offers to compare it with the scalar result.
enum class FilterIsa { Baseline, Avx2, Avx512 };
FilterIsa filterIsa();
// False (and no change) when the CPU lacks `isa`.
bool setFilterIsa(FilterIsa isa);

} // namespace vortigo

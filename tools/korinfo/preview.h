// The preview picture of one grid channel: a slice across an axis or the
// maximum along it, in the perceptual colour map, normalised by the
// channel's range, with a particle group's positions drawn over it.
//
// The picture's columns and rows run along the two other axes, rows upwards:
// --project z and --slice z=N show x to the right and y up, x shows z to the
// right and y up, y shows x to the right and z up. One pixel per cell.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "options.h"

class OstrelFrameData;

namespace KorInfo {

struct Picture {
    int width = 0, height = 0;
    std::vector<uint8_t> rgb;  // rows top to bottom, 3 bytes per pixel
};

// The grid channel id that --channel names (a name such as "smoke", or a
// number), or -1 when it names none that a frame hands out.
int ResolveGridChannel(const std::string& text);

// Draws `channel` of the frame as `request` asks. False, with the reason,
// when the frame lacks the channel or the group, the channel does not
// decode or the slice lies outside the grid.
bool MakePreview(OstrelFrameData& frame, const PreviewRequest& request, int channel, Picture& picture,
                 std::string& reason);

}  // namespace KorInfo

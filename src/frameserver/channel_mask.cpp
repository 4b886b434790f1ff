#include "frameserver/channel_mask.h"

#include "common/diag.h"
#include "frameserver/avs_library.h"

uint32_t usual_channel_mask(int channels)
{
    // Mono is the front centre; 7 channels are 6.1, 8 are 7.1 (side and back).
    static const uint32_t masks[] = {0, 0x4, 0x3, 0x7, 0x33, 0x37, 0x3F, 0x70F, 0x63F};
    return channels >= 1 && channels <= 8 ? masks[channels] : 0;
}

int channels_in_mask(uint32_t mask)
{
    int count = 0;
    for (; mask; mask &= mask - 1)
        ++count;
    return count;
}

uint32_t resolve_channel_mask(int64_t option, const AVS_VideoInfo& vi)
{
    if (option != CHANNEL_MASK_AUTO) {
        const uint32_t mask = static_cast<uint32_t>(option);
        if (mask != 0 && channels_in_mask(mask) != vi.nchannels)
            diag_print(DIAG_ERROR, "--channel-mask=0x%x names %d speakers, but the audio has %d channels.\n", mask,
                       channels_in_mask(mask), vi.nchannels);
        return mask;
    }
    // AviSynth+ 3.7.3 and later keep a mask that the source or the script
    // set (SetChannelMask).
    const bool server_keeps_masks = avs.avs_is_channel_mask_known && avs.avs_get_channel_mask;
    if (!server_keeps_masks)
        diag_print(DIAG_INFO,
                   "the frame server keeps no channel mask (AviSynth+ does from 3.7.3): --channel-mask=auto takes the "
                   "usual layout for %d channels.\n",
                   vi.nchannels);
    if (server_keeps_masks && avs.avs_is_channel_mask_known(&vi)) {
        const uint32_t mask = avs.avs_get_channel_mask(&vi);
        if (channels_in_mask(mask) == vi.nchannels)
            return mask;
        diag_print(DIAG_WARN, "the frame server's channel mask 0x%x does not fit %d channels; taking the usual one.\n",
                   mask, vi.nchannels);
    }
    const uint32_t mask = usual_channel_mask(vi.nchannels);
    if (mask == 0)
        diag_print(DIAG_WARN, "no usual speaker layout for %d channels: the channel mask stays 0.\n", vi.nchannels);
    return mask;
}

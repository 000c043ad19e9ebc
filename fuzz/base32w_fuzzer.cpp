// libFuzzer target: TKBase32::tkDecodeBase32W on UTF-16 text (byte pairs, host order).
#include "codec_fuzz.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    codec_fuzz::FuzzDecoder<TKWCHAR>(data, size, TKBase32::tkDecodeBase32W, 5,
                                     TKBase32::tkEncodeBase32W, TKBase32::tkEncodeBase32A);
    return 0;
}

// libFuzzer target: TKBase64::tkDecodeBase64W on UTF-16 text (byte pairs, host order).
#include "codec_fuzz.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    codec_fuzz::FuzzDecoder<TKWCHAR>(data, size, TKBase64::tkDecodeBase64W, 6,
                                     TKBase64::tkEncodeBase64W, TKBase64::tkEncodeBase64A);
    return 0;
}

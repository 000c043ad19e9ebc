// libFuzzer target: TKBase64::tkDecodeBase64A on narrow text.
#include "codec_fuzz.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    codec_fuzz::FuzzDecoder<char>(data, size, TKBase64::tkDecodeBase64A, 6,
                                  TKBase64::tkEncodeBase64W, TKBase64::tkEncodeBase64A);
    return 0;
}

// libFuzzer target: TKBase32::tkDecodeBase32A on narrow text.
#include "codec_fuzz.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    codec_fuzz::FuzzDecoder<char>(data, size, TKBase32::tkDecodeBase32A, 5,
                                  TKBase32::tkEncodeBase32W, TKBase32::tkEncodeBase32A);
    return 0;
}

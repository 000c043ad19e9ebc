// A program that knows TavikFCU only as an installed package.
#include <cstdio>

#include <tavikfcu/TavikFCU.h>

int main() {
    CMyJsonObj doc;
    int code = 0;
    if (!doc.Load(TKL("{\"epsg\": 4527}")) || !doc.ValueEx(TKL("epsg"), code)) return 1;

    CTKProCoordinateSystem pcs;
    CTKProCoordinateSystem::EPCSType type;
    if (!pcs.setByEPSGCode(code, type)) return 1;
    double x = 0, y = 0;
    CTKProCoordinateSystem::GeoToGauss(118.5, 31.0, x, y, pcs);

    char md5[33];
    TKMD5::tkGetMD5StrLowerA("abc", 3, md5);
    std::printf("%d %.4f %.4f %s\n", code, x, y, md5);
    return 0;
}

// The WKT tree is internal to the library (hidden symbols), so the white-box
// tests compile their own copy of it here.
#include "geo/wkt_tree.cpp"
#include "platform/c_locale_numbers_posix.cpp"

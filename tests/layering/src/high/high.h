// A higher layer's header.

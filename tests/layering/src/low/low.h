// A lower layer's header.

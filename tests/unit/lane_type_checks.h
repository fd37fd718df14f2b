// What each lane type's operations give, lane by lane, for the lane types
// test. Not a header of its own: lane_types_test.cpp includes it once for
// each instruction set, in a namespace of its own and compiled for that
// instruction set, as the kernel's body is.

template <class L>
void runLaneOperations(const double* a, const double* b, const double* mask, LaneResults& r) {
    using V = typename L::V;
    const V va = L::load(a), vb = L::load(b);
    L::store(r.sum, L::add(va, vb));
    L::store(r.difference, L::sub(va, vb));
    L::store(r.product, L::mul(va, vb));
    L::store(r.selected, L::select(L::load(mask), va, vb));
    L::store(r.shifted, L::shiftIn(va, vb));
    _mm_storeu_pd(r.top, L::topPair(va));
    __m128 firstTwo;
    L::store(r.rounded, L::throughFloat(va, firstTwo));
    _mm_storel_pi(reinterpret_cast<__m64*>(r.firstTwo), firstTwo);
    r.notBelow = L::notBelow(va, L::set1(1e-21));
    r.beyond = L::beyond(va, L::set1(1099511627776.0));
    const float left = static_cast<float>(b[0]), right = static_cast<float>(b[1]);
    L::store(r.frame, L::frameAtTop(&left, &right));
    L::leave();
}

// Scoped ownership of service containers and matrices.
//
// A fit that creates a temporary holds it in an Owned<T>: the container is
// destructed on every exit path, after the status has been fixed, so no
// function needs a clean-up ladder.
#pragma once

#include <cstdint>

#include <zfit/services/containers.h>
#include <zfit/services/nmmatrix.h>
#include <zfit/frame/status.hpp>

namespace zsvc {

// The C operations of each container type, found by overload.
inline zfit_status destruct(zstd_vector_zmath_vect* v) { return zstd_vector_zmath_vect_destruct(v); }
inline zfit_status destruct(zstd_vectord* v) { return zstd_vectord_destruct(v); }
inline zfit_status destruct(zstd_vector32* v) { return zstd_vector32_destruct(v); }
inline zfit_status destruct(zstd_vector_zmath_shapeFLine* v) { return zstd_vector_zmath_shapeFLine_destruct(v); }
inline zfit_status destruct(zstd_vector_* v) { return zstd_vector__destruct(v); }
inline zfit_status destruct(zmath_nmmatrix* m) { return zmath_nmmatrix_destruct(m); }

// A container or matrix that lives for one scope. Construct it with one of
// the C construct operations through `construct`; only a successfully
// constructed object is destructed.
template <class T>
class Owned {
public:
    Owned() = default;
    Owned(const Owned&) = delete;
    Owned& operator=(const Owned&) = delete;
    ~Owned()
    {
        if (live_) destruct(&object_);
    }

    // Runs a construct operation on the held object, e.g.
    //   ZFIT_TRY(work.construct(zstd_vector32_construct, m));
    template <class Construct, class... Args>
    zfit_status construct(Construct constructFn, Args... args)
    {
        const zfit_status status = constructFn(&object_, args...);
        if (!zfit::failed(status)) live_ = true;
        return status;
    }

    T* get() { return &object_; }
    const T* get() const { return &object_; }
    T* operator->() { return &object_; }

private:
    T object_{};
    bool live_ = false;
};

}  // namespace zsvc

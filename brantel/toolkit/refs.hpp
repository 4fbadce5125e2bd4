// Owned and borrowed references to Python objects.
//
// Rules of use:
//  - OwnedRef holds exactly one strong reference and drops it in its destructor.
//    Ownership is taken only through the named constructors: steal() for a new
//    reference the C API handed us, borrow() to add a reference of our own.
//  - A reference goes back to C only through release(), which is spelled where
//    the transfer happens (returning from a slot, PyList_SET_ITEM, ...).
//  - Borrowed pointers are plain PyObject*: they own nothing.
//  - checked() steals a new reference and throws PyError when it is null, which
//    is how a failed C API call joins the one error path (errors.hpp).
#pragma once

#include <Python.h>

#include "compat.hpp"
#include "errors.hpp"

namespace brantel {

class OwnedRef {
public:
    OwnedRef() noexcept = default;
    OwnedRef(const OwnedRef&) = delete;
    OwnedRef& operator=(const OwnedRef&) = delete;
    OwnedRef(OwnedRef&& other) noexcept : obj_(other.obj_) { other.obj_ = nullptr; }
    OwnedRef& operator=(OwnedRef&& other) noexcept {
        if (this != &other) {
            PyObject* old = obj_;
            obj_ = other.obj_;
            other.obj_ = nullptr;
            Py_XDECREF(old);
        }
        return *this;
    }
    ~OwnedRef() { Py_XDECREF(obj_); }

    // Takes over a new reference (may be null).
    static OwnedRef steal(PyObject* obj) noexcept { return OwnedRef(obj); }
    // Adds a reference of our own to a borrowed one (may be null).
    static OwnedRef borrow(PyObject* obj) noexcept {
        Py_XINCREF(obj);
        return OwnedRef(obj);
    }
    // Takes over a new reference; null means a Python error is set.
    static OwnedRef checked(PyObject* obj) {
        if (obj == nullptr) throw PyError();
        return OwnedRef(obj);
    }

    PyObject* get() const noexcept { return obj_; }
    explicit operator bool() const noexcept { return obj_ != nullptr; }

    // Hands the reference to the caller; this object owns nothing afterwards.
    PyObject* release() noexcept {
        PyObject* obj = obj_;
        obj_ = nullptr;
        return obj;
    }
    void reset() noexcept {
        PyObject* old = obj_;
        obj_ = nullptr;
        Py_XDECREF(old);
    }

private:
    explicit OwnedRef(PyObject* obj) noexcept : obj_(obj) {}
    PyObject* obj_ = nullptr;
};

}  // namespace brantel

#pragma once
// CHOLMOD (SuiteSparse), the library behind the sparse factorization, loaded
// when the first factorization is made rather than linked: its BLAS
// (OpenBLAS on Debian) starts a thread pool as soon as it is loaded, which
// the default method does not need and which must not decide whether a
// program that never factorizes can start (a process refused threads runs
// the default method on its calling thread alone). Loading it late also
// lets OPENBLAS_NUM_THREADS, read by OpenBLAS at load, come from the
// caller's environment.
//
// The library's name is the soname of the libcholmod the build was
// configured with (cmake/FindCHOLMOD.cmake), and the program lays out
// CHOLMOD's cholmod_common as the header it was compiled with says: so a
// library of another main or sub version than that header is refused when
// it is loaded, before anything reads or writes that structure.

#include <suitesparse/cholmod.h>

#include <string>

#include "newton/supernodal.h"

namespace solver::cholmod_library {

// The functions of CHOLMOD the factorization calls.
struct Api {
  decltype(&cholmod_start) start;
  decltype(&cholmod_finish) finish;
  decltype(&cholmod_allocate_sparse) allocate_sparse;
  decltype(&cholmod_free_sparse) free_sparse;
  decltype(&cholmod_analyze) analyze;
  decltype(&cholmod_factorize) factorize;
  decltype(&cholmod_free_factor) free_factor;
  decltype(&cholmod_allocate_dense) allocate_dense;
  decltype(&cholmod_free_dense) free_dense;
  decltype(&cholmod_solve) solve;
  decltype(&cholmod_free_work) free_work;
  // The dense kernels of the BLAS and LAPACK the library is linked with,
  // for the numeric factorization of our own (newton/supernodal.h).
  DenseKernels blas;
};

// The soname the build was configured with ("libcholmod.so.3").
const char* soname();

// The library of soname(), loaded and checked once for the process; it
// stays loaded. Throws platform::LibraryError naming the library and what
// to install when it cannot be loaded, lacks a function, or is of another
// version than the header.
const Api& api();

// The same for the library `name`, loaded anew (tests).
Api load(const char* name);

// Why a CHOLMOD of version main.sub.subsub cannot serve this program (its
// main or sub version is not the header's); empty when it can.
std::string mismatch(int main, int sub, int subsub);

}  // namespace solver::cholmod_library

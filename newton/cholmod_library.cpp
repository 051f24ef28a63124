#include "newton/cholmod_library.h"

#include <dlfcn.h>

#include <string>

#include "platform/failure.h"

#ifndef VELORA_CHOLMOD_SONAME
#error "VELORA_CHOLMOD_SONAME must be defined by the build (cmake/FindCHOLMOD.cmake)"
#endif

namespace solver::cholmod_library {

namespace {

// Debian names a library's package after its soname: libcholmod.so.3 is
// in libcholmod3.
std::string package_of(const std::string& name) {
  const std::string so = ".so.";
  const std::size_t at = name.find(so);
  if (at == std::string::npos) return name;
  return name.substr(0, at) + name.substr(at + so.size());
}

std::string install_hint(const std::string& name) {
  return "; install it (Debian package " + package_of(name) +
         ", which libsuitesparse-dev brings in) or run the default method (without --method newton)";
}

template <class F>
void bind(void* library, const std::string& name, const char* symbol, F& f) {
  void* address = dlsym(library, symbol);
  if (address == nullptr) {
    throw platform::LibraryError("the sparse factorization library " + name + " (CHOLMOD) lacks the function " +
                                 symbol + install_hint(name));
  }
  f = reinterpret_cast<F>(address);
}

}  // namespace

const char* soname() { return VELORA_CHOLMOD_SONAME; }

std::string mismatch(int main, int sub, int subsub) {
  if (main == CHOLMOD_MAIN_VERSION && sub == CHOLMOD_SUB_VERSION) return "";
  return "is version " + std::to_string(main) + "." + std::to_string(sub) + "." + std::to_string(subsub) +
         ", but this program was built for version " + std::to_string(CHOLMOD_MAIN_VERSION) + "." +
         std::to_string(CHOLMOD_SUB_VERSION) + " (whose data layout it uses)";
}

Api load(const char* name) {
  void* library = dlopen(name, RTLD_NOW | RTLD_LOCAL);
  if (library == nullptr) {
    const char* why = dlerror();
    throw platform::LibraryError(std::string("the Newton method needs the sparse factorization library ") + name +
                                 " (CHOLMOD), which cannot be loaded (" + (why != nullptr ? why : "not found") + ")" +
                                 install_hint(name));
  }
  // Versions before 2.1.1 have no cholmod_version: too old in any case.
  decltype(&cholmod_version) version = nullptr;
  bind(library, name, "cholmod_version", version);
  int v[3] = {0, 0, 0};
  version(v);
  const std::string wrong = mismatch(v[0], v[1], v[2]);
  if (!wrong.empty()) {
    dlclose(library);
    throw platform::LibraryError(std::string("the sparse factorization library ") + name + " (CHOLMOD) " + wrong +
                                 install_hint(name) + ", or build the program again against it");
  }
  Api a{};
  bind(library, name, "cholmod_start", a.start);
  bind(library, name, "cholmod_finish", a.finish);
  bind(library, name, "cholmod_allocate_sparse", a.allocate_sparse);
  bind(library, name, "cholmod_free_sparse", a.free_sparse);
  bind(library, name, "cholmod_analyze", a.analyze);
  bind(library, name, "cholmod_factorize", a.factorize);
  bind(library, name, "cholmod_free_factor", a.free_factor);
  bind(library, name, "cholmod_allocate_dense", a.allocate_dense);
  bind(library, name, "cholmod_free_dense", a.free_dense);
  bind(library, name, "cholmod_solve", a.solve);
  bind(library, name, "cholmod_free_work", a.free_work);
  // Found among the libraries the library itself loaded.
  bind(library, name, "dpotrf_", a.blas.potrf);
  bind(library, name, "dtrsm_", a.blas.trsm);
  bind(library, name, "dsyrk_", a.blas.syrk);
  bind(library, name, "dgemm_", a.blas.gemm);
  return a;  // the library stays loaded for the life of the process
}

const Api& api() {
  static const Api loaded = load(soname());
  return loaded;
}

}  // namespace solver::cholmod_library

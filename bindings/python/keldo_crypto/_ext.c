/*
 * keldo_crypto._ext: the package's calls into the library, as a compiled
 * module of CPython's Limited API (one abi3 build serves Python 3.9 and
 * later).
 *
 * The library is not linked: the package opens the file it chose
 * (load_library(path), the library inside a wheel, KELDO_CRYPTO_LIBRARY,
 * the package folder, the system loader) with the interpreter's own loader
 * (ctypes.CDLL: the same search and messages on every platform, and no
 * dlopen of a newer C library in this module) and hands bind() the address
 * of each function in FUNCTIONS, which is called with the prototype of
 * keldo_crypto.h. A call before that loads the library the package's way
 * first.
 *
 * The Python layer checks types and ranges; these functions take what it
 * checked (bytes, int) and make the call. Outputs are on the C stack (or in
 * the result object), so there is no lock and nothing shared between
 * threads. Long calls (PBKDF2, password hashes, hashing large inputs, long
 * tokens) run without the GIL; short ones keep it, which costs less than
 * handing it over and back. A refusal raises the exception the package's
 * _native.refusal(status) makes, with the library's text.
 */
#define PY_SSIZE_T_CLEAN
#define Py_LIMITED_API 0x03090000
#include <Python.h>
#include <structmember.h>
#include <stddef.h>

#include <stdint.h>
#include <string.h>
#include <time.h>

#include "keldo_crypto.h"

#ifdef _WIN32
#  include <windows.h>
#endif

/* Calls on inputs up to this size keep the GIL: a few microseconds of work
 * at most, less than another thread waits for the GIL anyway. */
#define SHORT_INPUT 16384

/* ---- the library's functions ------------------------------------------- */

/* Each function the package calls: its name, and a pointer of the type the
 * header gives it. Interface 1.2 and earlier; the order is the order in
 * which a library that lacks one is reported. */
#define KELDO_FUNCTIONS(X)                 \
  X(keldo_crypto_last_error)               \
  X(keldo_crypto_secure_compare)           \
  X(keldo_crypto_sha256)                   \
  X(keldo_crypto_hmac_sha256)              \
  X(keldo_crypto_pbkdf2_sha256)            \
  X(keldo_crypto_base64_encode)            \
  X(keldo_crypto_base64_decode)            \
  X(keldo_crypto_base64url_encode)         \
  X(keldo_crypto_base64url_decode)         \
  X(keldo_crypto_uuid_generate)            \
  X(keldo_crypto_status_text)              \
  X(keldo_jwt_mint_r)                      \
  X(keldo_jwt_verify_r)                    \
  X(keldo_password_hash)                   \
  X(keldo_password_encode)                 \
  X(keldo_password_verify)                 \
  X(keldo_password_needs_rehash)           \
  X(keldo_password_parameters)            \
  X(keldo_jwt_key_init)                    \
  X(keldo_jwt_key_wipe)                    \
  X(keldo_jwt_mint_k)                      \
  X(keldo_jwt_verify_k)

static struct {
#define X(name) __typeof__(name) *name;
  KELDO_FUNCTIONS(X)
#undef X
} lib;

static const char *const lib_names[] = {
#define X(name) #name,
  KELDO_FUNCTIONS(X)
#undef X
};


/* Set by _native at import: refusal(status) -> exception, and the Claims type. */
static PyObject *refusal_factory;
static PyObject *claims_type;
static PyObject *load_default; /* _native.library */
static PyObject *keldo_error;  /* KeldoError */
/* The key last accepted by the package's checks (a str or bytes of 32 bytes
 * or more, immutable) and its HMAC states prepared by the library: a host
 * signs and verifies with one key, so the checks and the key's two SHA-256
 * compressions are done once for it. Read and replaced holding the GIL. */
static PyObject *cached_secret;
static keldo_jwt_key cached_prepared;
/* The package's base of TokenKey and KeyRing, whose _block is a KeyBlock
 * (None once closed). */
static PyObject *key_object_class, *str_block;

static int load_now(void) {
  if (load_default == NULL) {
    PyErr_SetString(PyExc_RuntimeError, "keldo_crypto._ext: setup() was not called");
    return -1;
  }
  PyObject *r = PyObject_CallObject(load_default, NULL);
  if (r == NULL) return -1;
  Py_DECREF(r);
  if (lib.keldo_jwt_verify_r == NULL) {
    PyErr_SetString(PyExc_RuntimeError, "keldo_crypto: the library was not loaded");
    return -1;
  }
  return 0;
}

#define LOADED(fn) (lib.fn != NULL || load_now() == 0)

/* Raises the package's exception for status; returns NULL. */
static PyObject *refuse(int32_t status) {
  if (refusal_factory == NULL) {
    PyErr_Format(PyExc_RuntimeError, "keldo_crypto._ext: status %d, and setup() was not called", (int)status);
    return NULL;
  }
  PyObject *e = PyObject_CallFunction(refusal_factory, "i", (int)status);
  if (e != NULL) {
    PyErr_SetObject((PyObject *)Py_TYPE(e), e);
    Py_DECREF(e);
  }
  return NULL;
}

/* ---- argument parsing: the package passes bytes and ints ----------------- */

typedef struct {
  const char *p;
  Py_ssize_t n;
} bytes_arg;

static int get_bytes(PyObject *args, Py_ssize_t i, bytes_arg *out) {
  PyObject *o = PyTuple_GetItem(args, i);
  if (o == NULL) return -1;
  char *p;
  if (PyBytes_AsStringAndSize(o, &p, &out->n) < 0) return -1;
  out->p = p;
  return 0;
}

/* A C text: bytes without NUL (the package has checked). */
static int get_text(PyObject *args, Py_ssize_t i, const char **out) {
  bytes_arg b;
  if (get_bytes(args, i, &b) < 0) return -1;
  *out = b.p;
  return 0;
}

static int get_u32(PyObject *args, Py_ssize_t i, uint32_t *out) {
  PyObject *o = PyTuple_GetItem(args, i);
  if (o == NULL) return -1;
  unsigned long v = PyLong_AsUnsignedLong(o);
  if (v == (unsigned long)-1 && PyErr_Occurred()) return -1;
  if (v > UINT32_MAX) {
    PyErr_SetString(PyExc_OverflowError, "value above 2**32 - 1");
    return -1;
  }
  *out = (uint32_t)v;
  return 0;
}

static int get_i32(PyObject *args, Py_ssize_t i, int32_t *out) {
  PyObject *o = PyTuple_GetItem(args, i);
  if (o == NULL) return -1;
  long v = PyLong_AsLong(o);
  if (v == -1 && PyErr_Occurred()) return -1;
  if (v < INT32_MIN || v > INT32_MAX) {
    PyErr_SetString(PyExc_OverflowError, "value outside int32");
    return -1;
  }
  *out = (int32_t)v;
  return 0;
}

static int arity(PyObject *args, Py_ssize_t n, const char *fn) {
  if (PyTuple_Size(args) != n) {
    PyErr_Format(PyExc_TypeError, "%s takes %d arguments", fn, (int)n);
    return -1;
  }
  return 0;
}

/* ---- loading ------------------------------------------------------------- */

#define FUNCTION_COUNT (sizeof lib_names / sizeof lib_names[0])

/* bind(addresses): the address of each function of FUNCTIONS, in that
 * order, in the file the package opened (and keeps open). */
static PyObject *ext_bind(PyObject *self, PyObject *addresses) {
  (void)self;
  void *found[FUNCTION_COUNT];
  if (!PyTuple_Check(addresses) || PyTuple_Size(addresses) != (Py_ssize_t)FUNCTION_COUNT) {
    PyErr_Format(PyExc_TypeError, "bind() takes a tuple of %d addresses", (int)FUNCTION_COUNT);
    return NULL;
  }
  for (size_t i = 0; i < FUNCTION_COUNT; i++) {
    found[i] = PyLong_AsVoidPtr(PyTuple_GetItem(addresses, (Py_ssize_t)i));
    if (found[i] == NULL) {
      if (!PyErr_Occurred()) PyErr_Format(PyExc_ValueError, "bind(): no address for %s", lib_names[i]);
      return NULL;
    }
  }
  /* Holding the GIL: no call sees a half-filled table. */
  size_t i = 0;
#define X(name) memcpy(&lib.name, &found[i++], sizeof lib.name);
  KELDO_FUNCTIONS(X)
#undef X
  Py_RETURN_NONE;
}

static PyObject *claims_base; /* ClaimsBase, made at import */

/* setup(refusal, Claims, library, KeldoError, key objects): the package's
 * parts this module uses (see their declarations above). */
static PyObject *ext_setup(PyObject *self, PyObject *args) {
  (void)self;
  PyObject *refusal, *claims, *library, *error, *key_objects;
  if (!PyArg_ParseTuple(args, "OOOOO", &refusal, &claims, &library, &error, &key_objects)) return NULL;
  if (!PyType_Check(claims) || !PyType_Check(error) || !PyType_Check(key_objects) ||
      !PyType_IsSubtype((PyTypeObject *)claims, (PyTypeObject *)claims_base)) {
    PyErr_SetString(PyExc_TypeError, "setup(refusal, Claims (a ClaimsBase), library, KeldoError, key object class)");
    return NULL;
  }
  PyObject **slots[] = {&refusal_factory, &claims_type, &load_default, &keldo_error, &key_object_class};
  PyObject *values[] = {refusal, claims, library, error, key_objects};
  for (size_t i = 0; i < sizeof slots / sizeof slots[0]; i++) {
    Py_INCREF(values[i]);
    Py_XDECREF(*slots[i]);
    *slots[i] = values[i];
  }
  Py_RETURN_NONE;
}

/* ---- primitives --------------------------------------------------------- */

static PyObject *ext_status_text(PyObject *self, PyObject *arg) {
  (void)self;
  if (!LOADED(keldo_crypto_status_text)) return NULL;
  long status = PyLong_AsLong(arg);
  if (status == -1 && PyErr_Occurred()) return NULL;
  const char *text = lib.keldo_crypto_status_text((int32_t)status);
  if (text == NULL) Py_RETURN_NONE;
  return PyBytes_FromString(text);
}

/* secure_compare(a, b): a and b of equal length (the package checks). */
static PyObject *ext_secure_compare(PyObject *self, PyObject *args) {
  (void)self;
  bytes_arg a, b;
  if (arity(args, 2, "secure_compare") || get_bytes(args, 0, &a) || get_bytes(args, 1, &b)) return NULL;
  if (!LOADED(keldo_crypto_secure_compare)) return NULL;
  if (a.n != b.n) Py_RETURN_FALSE;
  return PyBool_FromLong(lib.keldo_crypto_secure_compare(a.p, b.p, (uint64_t)a.n) == 0);
}

static PyObject *unexpected(const char *fn) {
  /* Only reached if the library refused arguments the package checked. */
  PyErr_Format(keldo_error, "keldo_%s: refused arguments the binding had checked", fn);
  return NULL;
}

static PyObject *ext_sha256(PyObject *self, PyObject *arg) {
  (void)self;
  char *p;
  Py_ssize_t n;
  uint8_t out[32];
  if (PyBytes_AsStringAndSize(arg, &p, &n) < 0) return NULL;
  if (!LOADED(keldo_crypto_sha256)) return NULL;
  int32_t rc;
  if (n <= SHORT_INPUT) {
    rc = lib.keldo_crypto_sha256(p, (uint64_t)n, out);
  } else {
    Py_BEGIN_ALLOW_THREADS
    rc = lib.keldo_crypto_sha256(p, (uint64_t)n, out);
    Py_END_ALLOW_THREADS
  }
  if (rc != 0) return unexpected("crypto_sha256");
  return PyBytes_FromStringAndSize((const char *)out, 32);
}

static PyObject *ext_hmac_sha256(PyObject *self, PyObject *args) {
  (void)self;
  bytes_arg k, d;
  uint8_t out[32];
  if (arity(args, 2, "hmac_sha256") || get_bytes(args, 0, &k) || get_bytes(args, 1, &d)) return NULL;
  if (!LOADED(keldo_crypto_hmac_sha256)) return NULL;
  int32_t rc;
  if (k.n + d.n <= SHORT_INPUT) {
    rc = lib.keldo_crypto_hmac_sha256(k.p, (uint64_t)k.n, d.p, (uint64_t)d.n, out);
  } else {
    Py_BEGIN_ALLOW_THREADS
    rc = lib.keldo_crypto_hmac_sha256(k.p, (uint64_t)k.n, d.p, (uint64_t)d.n, out);
    Py_END_ALLOW_THREADS
  }
  if (rc != 0) return unexpected("crypto_hmac_sha256");
  return PyBytes_FromStringAndSize((const char *)out, 32);
}

/* pbkdf2_sha256(password, salt, iterations, length): ranges checked above. */
static PyObject *ext_pbkdf2_sha256(PyObject *self, PyObject *args) {
  (void)self;
  bytes_arg pw, salt;
  uint32_t iterations;
  if (arity(args, 4, "pbkdf2_sha256") || get_bytes(args, 0, &pw) || get_bytes(args, 1, &salt) ||
      get_u32(args, 2, &iterations))
    return NULL;
  Py_ssize_t length = PyLong_AsSsize_t(PyTuple_GetItem(args, 3));
  if (length == -1 && PyErr_Occurred()) return NULL;
  if (!LOADED(keldo_crypto_pbkdf2_sha256)) return NULL;
  PyObject *out = PyBytes_FromStringAndSize(NULL, length);
  if (out == NULL) return NULL;
  int32_t rc;
  char *dst = PyBytes_AsString(out);
  Py_BEGIN_ALLOW_THREADS
  rc = lib.keldo_crypto_pbkdf2_sha256(pw.p, (uint64_t)pw.n, salt.p, (uint64_t)salt.n, iterations,
                                      (uint8_t *)dst, (uint64_t)length);
  Py_END_ALLOW_THREADS
  if (rc != 0) {
    Py_DECREF(out);
    return unexpected("crypto_pbkdf2_sha256");
  }
  return out;
}

/* base64_encode(data, url) -> str */
static PyObject *ext_base64_encode(PyObject *self, PyObject *args) {
  (void)self;
  bytes_arg d;
  if (arity(args, 2, "base64_encode") || get_bytes(args, 0, &d)) return NULL;
  int url = PyObject_IsTrue(PyTuple_GetItem(args, 1));
  if (url < 0) return NULL;
  if (!LOADED(keldo_crypto_base64_encode)) return NULL;
  if (d.n > (PY_SSIZE_T_MAX - 8) / 4 * 3) return PyErr_NoMemory();
  uint64_t size = ((uint64_t)d.n + 2) / 3 * 4 + 1; /* enough for both alphabets */
  char stack[1024];
  char *out = size <= sizeof stack ? stack : PyMem_Malloc(size);
  if (out == NULL) return PyErr_NoMemory();
  int32_t rc;
  if (d.n <= SHORT_INPUT) {
    rc = (url ? lib.keldo_crypto_base64url_encode : lib.keldo_crypto_base64_encode)(d.p, (uint64_t)d.n, out, size);
  } else {
    Py_BEGIN_ALLOW_THREADS
    rc = (url ? lib.keldo_crypto_base64url_encode : lib.keldo_crypto_base64_encode)(d.p, (uint64_t)d.n, out, size);
    Py_END_ALLOW_THREADS
  }
  PyObject *r = rc == 0 ? PyUnicode_DecodeASCII(out, (Py_ssize_t)strlen(out), NULL)
                        : unexpected(url ? "crypto_base64url_encode" : "crypto_base64_encode");
  if (out != stack) PyMem_Free(out);
  return r;
}

/* base64_decode(text, url) -> bytes, or None when the text does not decode. */
static PyObject *ext_base64_decode(PyObject *self, PyObject *args) {
  (void)self;
  bytes_arg t;
  if (arity(args, 2, "base64_decode") || get_bytes(args, 0, &t)) return NULL;
  int url = PyObject_IsTrue(PyTuple_GetItem(args, 1));
  if (url < 0) return NULL;
  if (!LOADED(keldo_crypto_base64_decode)) return NULL;
  uint64_t size = (uint64_t)t.n / 4 * 3 + 3;
  char stack[1024];
  char *out = size <= sizeof stack ? stack : PyMem_Malloc(size);
  if (out == NULL) return PyErr_NoMemory();
  uint64_t n = 0;
  int32_t rc;
  if (t.n <= SHORT_INPUT) {
    rc = (url ? lib.keldo_crypto_base64url_decode : lib.keldo_crypto_base64_decode)(t.p, (uint8_t *)out, size, &n);
  } else {
    Py_BEGIN_ALLOW_THREADS
    rc = (url ? lib.keldo_crypto_base64url_decode : lib.keldo_crypto_base64_decode)(t.p, (uint8_t *)out, size, &n);
    Py_END_ALLOW_THREADS
  }
  PyObject *r;
  if (rc != 0) {
    r = Py_None;
    Py_INCREF(r);
  } else {
    r = PyBytes_FromStringAndSize(out, (Py_ssize_t)n);
  }
  if (out != stack) PyMem_Free(out);
  return r;
}

/* uuid_generate() -> str, or None when the random source failed. */
static PyObject *ext_uuid_generate(PyObject *self, PyObject *unused) {
  (void)self;
  (void)unused;
  char out[37];
  if (!LOADED(keldo_crypto_uuid_generate)) return NULL;
  if (lib.keldo_crypto_uuid_generate(out) != 0) Py_RETURN_NONE;
  return PyUnicode_DecodeASCII(out, 36, NULL);
}

/* ---- tokens ------------------------------------------------------------- */

/* jwt_mint(key, sub, email, ttl) -> str */
static PyObject *ext_jwt_mint(PyObject *self, PyObject *args) {
  (void)self;
  bytes_arg key;
  const char *sub, *email;
  uint32_t ttl;
  char out[KELDO_JWT_TOKEN_MAX];
  uint64_t size = 0;
  if (arity(args, 4, "jwt_mint") || get_bytes(args, 0, &key) || get_text(args, 1, &sub) ||
      get_text(args, 2, &email) || get_u32(args, 3, &ttl))
    return NULL;
  if (!LOADED(keldo_jwt_mint_r)) return NULL;
  /* The inputs are at most a few hundred bytes: the GIL stays. */
  int32_t rc = lib.keldo_jwt_mint_r(key.p, (uint64_t)key.n, sub, email, ttl, out, sizeof out, &size);
  if (rc != 0) return refuse(rc);
  return PyUnicode_DecodeASCII(out, (Py_ssize_t)size - 1, NULL);
}

/* The claims' storage: the base of the package's Claims (a Mapping with
 * __slots__ = ()), so that the verifier fills a new one without a call into
 * Python. */
typedef struct {
  PyObject_HEAD
  PyObject *sub, *email, *exp, *key;
} claims_object;

static PyMemberDef claims_members[] = {
  {"sub", T_OBJECT_EX, offsetof(claims_object, sub), 0, NULL},
  {"email", T_OBJECT_EX, offsetof(claims_object, email), 0, NULL},
  {"exp", T_OBJECT_EX, offsetof(claims_object, exp), 0, NULL},
  {"key", T_OBJECT_EX, offsetof(claims_object, key), 0, NULL},
  {NULL, 0, 0, 0, NULL},
};

static int claims_traverse(PyObject *self, visitproc visit, void *arg) {
  claims_object *c = (claims_object *)self;
  Py_VISIT(c->sub);
  Py_VISIT(c->email);
  Py_VISIT(c->exp);
  Py_VISIT(c->key);
  Py_VISIT(Py_TYPE(self)); /* a heap type, which instances hold */
  return 0;
}

static int claims_clear(PyObject *self) {
  claims_object *c = (claims_object *)self;
  Py_CLEAR(c->sub);
  Py_CLEAR(c->email);
  Py_CLEAR(c->exp);
  Py_CLEAR(c->key);
  return 0;
}

static void claims_dealloc(PyObject *self) {
  PyTypeObject *tp = Py_TYPE(self);
  PyObject_GC_UnTrack(self);
  claims_clear(self);
  freefunc free_fn = (freefunc)PyType_GetSlot(tp, Py_tp_free);
  free_fn(self);
  Py_DECREF(tp);
}

static PyType_Slot claims_slots[] = {
  {Py_tp_members, claims_members},
  {Py_tp_traverse, claims_traverse},
  {Py_tp_clear, claims_clear},
  {Py_tp_dealloc, claims_dealloc},
  {Py_tp_new, PyType_GenericNew},
  {Py_tp_doc, "The storage of Claims (keldo_crypto.Claims)."},
  {0, NULL},
};

static PyType_Spec claims_spec = {
  "keldo_crypto._ext.ClaimsBase", sizeof(claims_object), 0,
  Py_TPFLAGS_DEFAULT | Py_TPFLAGS_BASETYPE | Py_TPFLAGS_HAVE_GC, claims_slots,
};

static allocfunc claims_alloc;

/* key: the position of the matching key in a ring (0 for one key). */
static PyObject *new_claims(const char *sub, const char *email, int64_t exp, uint32_t key) {
  if (claims_alloc == NULL) {
    claims_alloc = (allocfunc)PyType_GetSlot((PyTypeObject *)claims_type, Py_tp_alloc);
    if (claims_alloc == NULL) return NULL;
  }
  claims_object *c = (claims_object *)claims_alloc((PyTypeObject *)claims_type, 0);
  if (c == NULL) return NULL;
  /* The verifier hands out only whole claims of valid UTF-8. */
  if ((c->sub = PyUnicode_DecodeUTF8(sub, (Py_ssize_t)strlen(sub), NULL)) == NULL ||
      (c->email = PyUnicode_DecodeUTF8(email, (Py_ssize_t)strlen(email), NULL)) == NULL ||
      (c->exp = PyLong_FromLongLong(exp)) == NULL || (c->key = PyLong_FromUnsignedLong(key)) == NULL) {
    Py_DECREF(c);
    return NULL;
  }
  return (PyObject *)c;
}

/* Tokens longer than this (the header has no limit) are verified without the
 * GIL, so a flood of them does not stop the other threads. */
#define LONG_TOKEN 16384

/* jwt_verify(key, token) -> Claims; token is bytes without NUL. */
static PyObject *ext_jwt_verify(PyObject *self, PyObject *args) {
  (void)self;
  bytes_arg key, token;
  char sub[64], email[128];
  int64_t exp = 0;
  if (arity(args, 2, "jwt_verify") || get_bytes(args, 0, &key) || get_bytes(args, 1, &token)) return NULL;
  if (!LOADED(keldo_jwt_verify_r)) return NULL;
  int32_t rc;
  if (token.n <= LONG_TOKEN) {
    rc = lib.keldo_jwt_verify_r(key.p, (uint64_t)key.n, token.p, sub, email, &exp);
  } else {
    Py_BEGIN_ALLOW_THREADS
    rc = lib.keldo_jwt_verify_r(key.p, (uint64_t)key.n, token.p, sub, email, &exp);
    Py_END_ALLOW_THREADS
  }
  if (rc != 0) return refuse(rc);
  return new_claims(sub, email, exp, 0);
}

/* ---- prepared keys -------------------------------------------------------- */

/* KeyBlock(count): the storage of a TokenKey (one key) or a KeyRing: count
 * prepared keys in one array, as keldo_jwt_verify_k reads a ring. Each is
 * refused by the library until prepare() fills it; wipe() and the end of
 * the object clear them all. */
typedef struct {
  PyObject_HEAD
  Py_ssize_t count;
  keldo_jwt_key *keys;
} block_object;

static PyObject *block_type;

static PyObject *block_new(PyTypeObject *type, PyObject *args, PyObject *kwargs) {
  Py_ssize_t count;
  (void)kwargs;
  if (!PyArg_ParseTuple(args, "n:KeyBlock", &count)) return NULL;
  if (count < 1 || count > KELDO_JWT_KEYS_MAX) {
    return PyErr_Format(PyExc_ValueError, "KeyBlock: 1 to %d keys", KELDO_JWT_KEYS_MAX);
  }
  allocfunc alloc = (allocfunc)PyType_GetSlot(type, Py_tp_alloc);
  block_object *b = (block_object *)alloc(type, 0);
  if (b == NULL) return NULL;
  /* Zeroed: a key that is all zeros is refused as not initialised. */
  b->keys = PyMem_Calloc((size_t)count, sizeof(keldo_jwt_key));
  if (b->keys == NULL) {
    Py_DECREF(b);
    return PyErr_NoMemory();
  }
  b->count = count;
  return (PyObject *)b;
}

static void block_wipe_all(block_object *b) {
  if (b->keys == NULL) return;
  if (lib.keldo_jwt_key_wipe != NULL) {
    for (Py_ssize_t i = 0; i < b->count; i++) lib.keldo_jwt_key_wipe(&b->keys[i]);
  } else {
    /* Never prepared without the library: nothing but zeros to clear. */
    volatile unsigned char *p = (volatile unsigned char *)b->keys;
    for (size_t i = 0; i < (size_t)b->count * sizeof(keldo_jwt_key); i++) p[i] = 0;
  }
}

static void block_dealloc(PyObject *self) {
  block_object *b = (block_object *)self;
  PyTypeObject *tp = Py_TYPE(self);
  block_wipe_all(b);
  PyMem_Free(b->keys);
  freefunc free_fn = (freefunc)PyType_GetSlot(tp, Py_tp_free);
  free_fn(self);
  Py_DECREF(tp);
}

static int block_index(block_object *b, PyObject *o, Py_ssize_t *i) {
  *i = PyLong_AsSsize_t(o);
  if (*i == -1 && PyErr_Occurred()) return -1;
  if (*i < 0 || *i >= b->count) {
    PyErr_SetString(PyExc_IndexError, "KeyBlock: no such key");
    return -1;
  }
  return 0;
}

/* prepare(i, secret): key i from secret (bytes, the package has checked it). */
static PyObject *block_prepare(PyObject *self, PyObject *args) {
  block_object *b = (block_object *)self;
  Py_ssize_t i;
  bytes_arg secret;
  if (arity(args, 2, "prepare") || block_index(b, PyTuple_GetItem(args, 0), &i) || get_bytes(args, 1, &secret))
    return NULL;
  if (!LOADED(keldo_jwt_key_init)) return NULL;
  int32_t rc = lib.keldo_jwt_key_init(&b->keys[i], secret.p, (uint64_t)secret.n);
  if (rc != 0) return refuse(rc);
  Py_RETURN_NONE;
}

/* copy(i, other): key i is the first key of the KeyBlock other. */
static PyObject *block_copy(PyObject *self, PyObject *args) {
  block_object *b = (block_object *)self;
  Py_ssize_t i;
  if (arity(args, 2, "copy") || block_index(b, PyTuple_GetItem(args, 0), &i)) return NULL;
  PyObject *other = PyTuple_GetItem(args, 1);
  if (!PyObject_TypeCheck(other, (PyTypeObject *)block_type)) {
    PyErr_SetString(PyExc_TypeError, "copy(i, other): other is a KeyBlock");
    return NULL;
  }
  b->keys[i] = ((block_object *)other)->keys[0];
  Py_RETURN_NONE;
}

static PyObject *block_wipe(PyObject *self, PyObject *unused) {
  (void)unused;
  block_wipe_all((block_object *)self);
  Py_RETURN_NONE;
}

static PyMethodDef block_methods[] = {
  {"prepare", block_prepare, METH_VARARGS, "prepare(i, secret): key i from the secret's bytes"},
  {"copy", block_copy, METH_VARARGS, "copy(i, other): key i is the first key of other"},
  {"wipe", block_wipe, METH_NOARGS, "wipe(): every key cleared, refused from then on"},
  {NULL, NULL, 0, NULL},
};

static PyType_Slot block_slots[] = {
  {Py_tp_new, block_new},
  {Py_tp_dealloc, block_dealloc},
  {Py_tp_methods, block_methods},
  {Py_tp_doc, "KeyBlock(count): count prepared token keys (TokenKey, KeyRing)."},
  {0, NULL},
};

static PyType_Spec block_spec = {
  "keldo_crypto._ext.KeyBlock", sizeof(block_object), 0, Py_TPFLAGS_DEFAULT, block_slots,
};

static block_object *as_block(PyObject *o) {
  if (!PyObject_TypeCheck(o, (PyTypeObject *)block_type)) {
    PyErr_SetString(PyExc_TypeError, "expected a KeyBlock");
    return NULL;
  }
  return (block_object *)o;
}

/* The token calls with prepared keys; the same rules as with one secret. */
static PyObject *mint_with(block_object *b, const char *sub, const char *email, uint32_t ttl) {
  char out[KELDO_JWT_TOKEN_MAX];
  uint64_t size = 0;
  if (!LOADED(keldo_jwt_mint_k)) return NULL;
  /* The first key signs; the inputs are a few hundred bytes: the GIL stays. */
  int32_t rc = lib.keldo_jwt_mint_k(&b->keys[0], sub, email, ttl, out, sizeof out, &size);
  if (rc != 0) return refuse(rc);
  return PyUnicode_DecodeASCII(out, (Py_ssize_t)size - 1, NULL);
}

static PyObject *verify_with(block_object *b, const char *token, Py_ssize_t token_len) {
  char sub[64], email[128];
  int64_t exp = 0;
  uint32_t index = 0;
  int32_t rc;
  if (!LOADED(keldo_jwt_verify_k)) return NULL;
  if (token_len <= LONG_TOKEN) {
    rc = lib.keldo_jwt_verify_k(b->keys, (uint32_t)b->count, token, sub, email, &exp, &index);
  } else {
    /* The caller's references keep the block alive; its keys are read-only
     * until it is closed, which no other thread does while one uses it. */
    Py_BEGIN_ALLOW_THREADS
    rc = lib.keldo_jwt_verify_k(b->keys, (uint32_t)b->count, token, sub, email, &exp, &index);
    Py_END_ALLOW_THREADS
  }
  if (rc != 0) return refuse(rc);
  return new_claims(sub, email, exp, index);
}

/* mint_k(block, sub, email, ttl) -> str, checked as jwt_mint's. */
static PyObject *ext_mint_k(PyObject *self, PyObject *args) {
  (void)self;
  block_object *b;
  const char *sub, *email;
  uint32_t ttl;
  if (arity(args, 4, "mint_k") || (b = as_block(PyTuple_GetItem(args, 0))) == NULL || get_text(args, 1, &sub) ||
      get_text(args, 2, &email) || get_u32(args, 3, &ttl))
    return NULL;
  return mint_with(b, sub, email, ttl);
}

/* verify_k(block, token) -> Claims (claims.key the matching key), token as
 * jwt_verify checked it. */
static PyObject *ext_verify_k(PyObject *self, PyObject *args) {
  (void)self;
  block_object *b;
  bytes_arg token;
  if (arity(args, 2, "verify_k") || (b = as_block(PyTuple_GetItem(args, 0))) == NULL || get_bytes(args, 1, &token))
    return NULL;
  return verify_with(b, token.p, token.n);
}

/* ---- the token calls' fast path ------------------------------------------- */

/* remember(secret, key): secret passed the checks as key (bytes). */
static PyObject *ext_remember(PyObject *self, PyObject *args) {
  (void)self;
  PyObject *secret;
  char *kp;
  Py_ssize_t kn;
  if (!PyArg_ParseTuple(args, "Oy#", &secret, &kp, &kn)) return NULL;
  if (!LOADED(keldo_jwt_key_init)) return NULL;
  Py_CLEAR(cached_secret);
  int32_t rc = lib.keldo_jwt_key_init(&cached_prepared, kp, (uint64_t)kn);
  if (rc != 0) return refuse(rc);
  Py_INCREF(secret);
  cached_secret = secret;
  Py_RETURN_NONE;
}

/* The UTF-8 of a str, or the bytes themselves; NULL (no error set) for
 * anything else, or text that does not encode. */
static PyObject *utf8_of(PyObject *o) {
  if (PyUnicode_CheckExact(o)) {
    PyObject *b = PyUnicode_AsUTF8String(o);
    if (b == NULL) PyErr_Clear();
    return b;
  }
  if (PyBytes_CheckExact(o)) {
    Py_INCREF(o);
    return o;
  }
  return NULL;
}

/* Of kwargs (may be NULL): the value of name, or NULL; *taken counts the
 * names found. */
static PyObject *keyword(PyObject *kwargs, const char *name, Py_ssize_t *taken) {
  if (kwargs == NULL) return NULL;
  PyObject *v = PyDict_GetItemString(kwargs, name); /* borrowed */
  if (v != NULL) (*taken)++;
  return v;
}

/* The open KeyBlock of a TokenKey or KeyRing (a new reference), or NULL
 * with no error set for anything else. */
static block_object *key_block_of(PyObject *secret) {
  if (key_object_class == NULL || !PyObject_TypeCheck(secret, (PyTypeObject *)key_object_class)) return NULL;
  PyObject *block = PyObject_GetAttr(secret, str_block);
  if (block == NULL) {
    PyErr_Clear();
    return NULL;
  }
  if (!PyObject_TypeCheck(block, (PyTypeObject *)block_type)) {
    Py_DECREF(block); /* closed: the checked function says so */
    return NULL;
  }
  return (block_object *)block;
}

/* jwt_verify(token, secret, *, allow_short_secret=False): taken here when
 * secret is the remembered key, or an open TokenKey or KeyRing, and token a
 * str or bytes, not empty, without NUL; everything else, and a token the
 * library finds malformed under the remembered key (it may be a key passed
 * as the token), goes to the checked function. */
static PyObject *fast_verify(PyObject *args, PyObject *kwargs) {
  PyObject *token_bytes, *secret;
  block_object *block = NULL;
  char *tp;
  Py_ssize_t tn, taken = 0;
  char sub[64], email[128];
  int64_t exp = 0;
  int32_t rc;
  if (PyTuple_Size(args) != 2) return NULL;
  /* allow_short_secret does not matter for a remembered key (it has 32
   * bytes or more) nor for a prepared one. */
  keyword(kwargs, "allow_short_secret", &taken);
  if (kwargs != NULL && PyDict_Size(kwargs) != taken) return NULL;
  secret = PyTuple_GetItem(args, 1);
  if (cached_secret == NULL || secret != cached_secret) {
    if ((block = key_block_of(secret)) == NULL) return NULL;
  }
  if ((token_bytes = utf8_of(PyTuple_GetItem(args, 0))) == NULL) {
    Py_XDECREF(block);
    return NULL;
  }
  if (PyBytes_AsStringAndSize(token_bytes, &tp, &tn) < 0 || tn == 0 || memchr(tp, 0, (size_t)tn) != NULL) {
    PyErr_Clear();
    Py_DECREF(token_bytes);
    Py_XDECREF(block);
    return NULL;
  }
  if (block != NULL) {
    PyObject *r = verify_with(block, tp, tn);
    Py_DECREF(token_bytes);
    Py_DECREF(block);
    return r != NULL ? r : Py_None;
  }
  if (!LOADED(keldo_jwt_verify_r)) {
    Py_DECREF(token_bytes);
    return Py_None; /* the error is set */
  }
  if (tn <= LONG_TOKEN) {
    rc = lib.keldo_jwt_verify_k(&cached_prepared, 1, tp, sub, email, &exp, NULL);
  } else {
    /* A copy: another thread may replace the remembered key while the GIL
     * is released. */
    keldo_jwt_key key = cached_prepared;
    Py_BEGIN_ALLOW_THREADS
    rc = lib.keldo_jwt_verify_k(&key, 1, tp, sub, email, &exp, NULL);
    Py_END_ALLOW_THREADS
    lib.keldo_jwt_key_wipe(&key);
  }
  Py_DECREF(token_bytes);
  if (rc == 0) {
    PyObject *c = new_claims(sub, email, exp, 0);
    return c != NULL ? c : Py_None;
  }
  if (KELDO_STATUS_KIND(rc) == KELDO_KIND_MALFORMED && rc != KELDO_E_SIGNATURE_FORMAT) return NULL;
  refuse(rc);
  return Py_None;
}

/* A claim for mint: a str whose UTF-8 has at most limit bytes and no NUL. */
static PyObject *claim_of(PyObject *o, Py_ssize_t limit) {
  if (o == NULL || !PyUnicode_CheckExact(o)) return NULL;
  PyObject *b = PyUnicode_AsUTF8String(o);
  if (b == NULL) {
    PyErr_Clear();
    return NULL;
  }
  char *p;
  Py_ssize_t n;
  if (PyBytes_AsStringAndSize(b, &p, &n) < 0 || n > limit || memchr(p, 0, (size_t)n) != NULL) {
    PyErr_Clear();
    Py_DECREF(b);
    return NULL;
  }
  return b;
}

/* jwt_mint(secret, sub, email, ttl=DEFAULT, *, allow_short_secret=False):
 * taken here when secret is the remembered key or an open TokenKey or
 * KeyRing, sub and email str within their limits and ttl an int in range;
 * anything else goes to the checked function. */
static PyObject *fast_mint(PyObject *args, PyObject *kwargs, PyObject *default_ttl) {
  PyObject *sub_b = NULL, *email_b = NULL, *ttl_o, *result = NULL;
  char out[KELDO_JWT_TOKEN_MAX];
  uint64_t size = 0;
  Py_ssize_t taken = 0, argc = PyTuple_Size(args);
  block_object *block = NULL;
  if (argc < 3 || argc > 4) return NULL;
  keyword(kwargs, "allow_short_secret", &taken);
  ttl_o = keyword(kwargs, "ttl", &taken);
  if (kwargs != NULL && PyDict_Size(kwargs) != taken) return NULL;
  if (argc == 4) {
    if (ttl_o != NULL) return NULL; /* given twice: the checked function says so */
    ttl_o = PyTuple_GetItem(args, 3);
  } else if (ttl_o == NULL) {
    ttl_o = default_ttl;
  }
  if (ttl_o == NULL || !PyLong_CheckExact(ttl_o)) return NULL;
  unsigned long ttl = PyLong_AsUnsignedLong(ttl_o);
  if ((ttl == (unsigned long)-1 && PyErr_Occurred()) || ttl > UINT32_MAX) {
    PyErr_Clear();
    return NULL;
  }
  if ((sub_b = claim_of(PyTuple_GetItem(args, 1), 63)) == NULL) return NULL;
  if ((email_b = claim_of(PyTuple_GetItem(args, 2), 127)) == NULL) {
    Py_DECREF(sub_b);
    return NULL;
  }
  PyObject *secret = PyTuple_GetItem(args, 0);
  if (cached_secret == NULL || secret != cached_secret) {
    if ((block = key_block_of(secret)) == NULL) {
      Py_DECREF(sub_b);
      Py_DECREF(email_b);
      return NULL;
    }
    result = mint_with(block, PyBytes_AsString(sub_b), PyBytes_AsString(email_b), (uint32_t)ttl);
    Py_DECREF(block);
  } else if (LOADED(keldo_jwt_mint_r)) {
    /* The inputs are at most a few hundred bytes: the GIL stays. */
    int32_t rc = lib.keldo_jwt_mint_k(&cached_prepared, PyBytes_AsString(sub_b), PyBytes_AsString(email_b),
                                      (uint32_t)ttl, out, sizeof out, &size);
    if (rc != 0) refuse(rc);
    else result = PyUnicode_DecodeASCII(out, (Py_ssize_t)size - 1, NULL);
  }
  Py_DECREF(sub_b);
  Py_DECREF(email_b);
  return result != NULL ? result : Py_None;
}

/* TokenCall(checked, "verify" | "mint"): jwt_verify and jwt_mint as the
 * package exports them. A call that the fast path above takes costs one C
 * call; any other goes to checked, the package's Python function with every
 * check, whose name, text and signature it carries (functools.wraps). The
 * fast paths return NULL (no error set) to hand the call on, Py_None with an
 * error set for a failure, or the result. */
typedef struct {
  PyObject_HEAD
  PyObject *checked;
  PyObject *default_ttl; /* mint: checked's default ttl */
  PyObject *dict;
  int mint;
} fast_object;

static PyObject *fast_type;

static PyObject *fast_call(PyObject *self, PyObject *args, PyObject *kwargs) {
  fast_object *f = (fast_object *)self;
  PyObject *r = f->mint ? fast_mint(args, kwargs, f->default_ttl) : fast_verify(args, kwargs);
  if (r == Py_None) return NULL; /* neither function returns None */
  if (r != NULL) return r;
  return PyObject_Call(f->checked, args, kwargs);
}

static PyObject *fast_new(PyTypeObject *type, PyObject *args, PyObject *kwargs) {
  PyObject *checked;
  const char *kind;
  (void)kwargs;
  if (!PyArg_ParseTuple(args, "Os:TokenCall", &checked, &kind)) return NULL;
  int mint = strcmp(kind, "mint") == 0;
  if (!mint && strcmp(kind, "verify") != 0) {
    PyErr_SetString(PyExc_ValueError, "TokenCall: kind is 'verify' or 'mint'");
    return NULL;
  }
  PyObject *default_ttl = NULL;
  if (mint) {
    /* The default of checked's ttl, the only one there is. */
    PyObject *defaults = PyObject_GetAttrString(checked, "__defaults__");
    if (defaults == NULL) return NULL;
    if (!PyTuple_Check(defaults) || PyTuple_Size(defaults) != 1) {
      Py_DECREF(defaults);
      PyErr_SetString(PyExc_TypeError, "TokenCall: the mint function has one default, ttl");
      return NULL;
    }
    default_ttl = PyTuple_GetItem(defaults, 0);
    Py_INCREF(default_ttl);
    Py_DECREF(defaults);
  }
  allocfunc alloc = (allocfunc)PyType_GetSlot(type, Py_tp_alloc);
  fast_object *f = (fast_object *)alloc(type, 0);
  if (f == NULL) {
    Py_XDECREF(default_ttl);
    return NULL;
  }
  Py_INCREF(checked);
  f->checked = checked;
  f->default_ttl = default_ttl;
  f->mint = mint;
  return (PyObject *)f;
}

static int fast_traverse(PyObject *self, visitproc visit, void *arg) {
  fast_object *f = (fast_object *)self;
  Py_VISIT(f->checked);
  Py_VISIT(f->default_ttl);
  Py_VISIT(f->dict);
  Py_VISIT(Py_TYPE(self));
  return 0;
}

static int fast_clear(PyObject *self) {
  fast_object *f = (fast_object *)self;
  Py_CLEAR(f->checked);
  Py_CLEAR(f->default_ttl);
  Py_CLEAR(f->dict);
  return 0;
}

static void fast_dealloc(PyObject *self) {
  PyTypeObject *tp = Py_TYPE(self);
  PyObject_GC_UnTrack(self);
  fast_clear(self);
  freefunc free_fn = (freefunc)PyType_GetSlot(tp, Py_tp_free);
  free_fn(self);
  Py_DECREF(tp);
}

static PyMemberDef fast_members[] = {
  {"__dictoffset__", T_PYSSIZET, offsetof(fast_object, dict), READONLY, NULL},
  {NULL, 0, 0, 0, NULL},
};

/* __dict__, for functools.wraps (the Limited API of 3.9 has no generic one). */
static PyObject *fast_get_dict(PyObject *self, void *closure) {
  (void)closure;
  fast_object *f = (fast_object *)self;
  if (f->dict == NULL && (f->dict = PyDict_New()) == NULL) return NULL;
  Py_INCREF(f->dict);
  return f->dict;
}

static PyGetSetDef fast_getset[] = {
  {"__dict__", fast_get_dict, NULL, NULL, NULL},
  {NULL, NULL, NULL, NULL, NULL},
};

static PyType_Slot fast_slots[] = {
  {Py_tp_call, fast_call},
  {Py_tp_getset, fast_getset},
  {Py_tp_new, fast_new},
  {Py_tp_members, fast_members},
  {Py_tp_traverse, fast_traverse},
  {Py_tp_clear, fast_clear},
  {Py_tp_dealloc, fast_dealloc},
  {0, NULL},
};

static PyType_Spec fast_spec = {
  "keldo_crypto._ext.TokenCall", sizeof(fast_object), 0, Py_TPFLAGS_DEFAULT | Py_TPFLAGS_HAVE_GC, fast_slots,
};

/* ---- password-hash strings ------------------------------------------------ */

/* password_hash(password, iterations) -> str */
static PyObject *ext_password_hash(PyObject *self, PyObject *args) {
  (void)self;
  bytes_arg pw;
  uint32_t iterations;
  char out[KELDO_PASSWORD_HASH_MAX];
  if (arity(args, 2, "password_hash") || get_bytes(args, 0, &pw) || get_u32(args, 1, &iterations)) return NULL;
  if (!LOADED(keldo_password_hash)) return NULL;
  int32_t rc;
  Py_BEGIN_ALLOW_THREADS
  rc = lib.keldo_password_hash(pw.p, (uint64_t)pw.n, iterations, out, sizeof out);
  Py_END_ALLOW_THREADS
  if (rc != 0) return refuse(rc);
  return PyUnicode_DecodeASCII(out, (Py_ssize_t)strlen(out), NULL);
}

/* password_encode(form, password, salt, iterations) -> str */
static PyObject *ext_password_encode(PyObject *self, PyObject *args) {
  (void)self;
  int32_t form;
  bytes_arg pw, salt;
  uint32_t iterations;
  if (arity(args, 4, "password_encode") || get_i32(args, 0, &form) || get_bytes(args, 1, &pw) ||
      get_bytes(args, 2, &salt) || get_u32(args, 3, &iterations))
    return NULL;
  if (!LOADED(keldo_password_encode)) return NULL;
  /* Every result fits KELDO_PASSWORD_HASH_MAX; a longer salt is refused. */
  uint64_t size = KELDO_PASSWORD_HASH_MAX + (uint64_t)salt.n;
  char *out = PyMem_Malloc(size);
  if (out == NULL) return PyErr_NoMemory();
  int32_t rc;
  Py_BEGIN_ALLOW_THREADS
  rc = lib.keldo_password_encode(form, pw.p, (uint64_t)pw.n, salt.p, (uint64_t)salt.n, iterations, out, size);
  Py_END_ALLOW_THREADS
  PyObject *r = rc != 0 ? refuse(rc) : PyUnicode_DecodeUTF8(out, (Py_ssize_t)strlen(out), "surrogateescape");
  PyMem_Free(out);
  return r;
}

/* password_verify(password, stored) -> the status */
static PyObject *ext_password_verify(PyObject *self, PyObject *args) {
  (void)self;
  bytes_arg pw;
  const char *stored;
  if (arity(args, 2, "password_verify") || get_bytes(args, 0, &pw) || get_text(args, 1, &stored)) return NULL;
  if (!LOADED(keldo_password_verify)) return NULL;
  int32_t rc;
  Py_BEGIN_ALLOW_THREADS
  rc = lib.keldo_password_verify(pw.p, (uint64_t)pw.n, stored);
  Py_END_ALLOW_THREADS
  return PyLong_FromLong(rc);
}

/* password_needs_rehash(stored, min_iterations) -> the status (parsing only) */
static PyObject *ext_password_needs_rehash(PyObject *self, PyObject *args) {
  (void)self;
  const char *stored;
  uint32_t min;
  if (arity(args, 2, "password_needs_rehash") || get_text(args, 0, &stored) || get_u32(args, 1, &min)) return NULL;
  if (!LOADED(keldo_password_needs_rehash)) return NULL;
  return PyLong_FromLong(lib.keldo_password_needs_rehash(stored, min));
}

/* password_parameters(stored) -> (form, iterations) */
static PyObject *ext_password_parameters(PyObject *self, PyObject *arg) {
  (void)self;
  char *stored;
  Py_ssize_t n;
  int32_t form = 0;
  uint32_t iterations = 0;
  if (PyBytes_AsStringAndSize(arg, &stored, &n) < 0) return NULL;
  if (!LOADED(keldo_password_parameters)) return NULL;
  int32_t rc = lib.keldo_password_parameters(stored, &form, &iterations);
  if (rc != 0) return refuse(rc);
  return Py_BuildValue("(ik)", (int)form, (unsigned long)iterations);
}

/* ---- the benchmark's C-level timing --------------------------------------- */

static double cpu_seconds(void) {
#ifdef _WIN32
  FILETIME c, e, k, u;
  GetProcessTimes(GetCurrentProcess(), &c, &e, &k, &u);
  return ((double)((uint64_t)u.dwHighDateTime << 32 | u.dwLowDateTime) +
          (double)((uint64_t)k.dwHighDateTime << 32 | k.dwLowDateTime)) * 1e-7;
#else
  struct timespec t;
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
  return (double)t.tv_sec + (double)t.tv_nsec * 1e-9;
#endif
}

/* c_time(what, n, ...) -> CPU seconds of n bare calls of the library function
 * that jwt_verify ("verify": key, token) or jwt_mint ("mint": key, sub,
 * email, ttl) makes for a remembered key (keldo_jwt_verify_k, keldo_jwt_mint_k
 * with the key prepared once), through the same pointer, with the same
 * arguments, in a C loop: what a call costs without Python. The benchmark
 * sets it beside the package's call. */
static PyObject *ext_c_time(PyObject *self, PyObject *args) {
  (void)self;
  Py_ssize_t argc = PyTuple_Size(args);
  if (argc < 2) return PyErr_Format(PyExc_TypeError, "c_time(what, n, ...)");
  PyObject *what = PyTuple_GetItem(args, 0);
  long n = PyLong_AsLong(PyTuple_GetItem(args, 1));
  if (n == -1 && PyErr_Occurred()) return NULL;
  if (PyUnicode_CompareWithASCIIString(what, "verify") == 0 && argc == 4) {
    bytes_arg key, token;
    char sub[64], email[128];
    int64_t exp;
    keldo_jwt_key k;
    if (get_bytes(args, 2, &key) || get_bytes(args, 3, &token)) return NULL;
    if (!LOADED(keldo_jwt_verify_k)) return NULL;
    if (lib.keldo_jwt_key_init(&k, key.p, (uint64_t)key.n) != 0) return PyErr_Format(PyExc_ValueError, "c_time: no key");
    double start = cpu_seconds();
    for (long i = 0; i < n; i++) {
      if (lib.keldo_jwt_verify_k(&k, 1, token.p, sub, email, &exp, NULL) != 0) {
        return PyErr_Format(PyExc_ValueError, "c_time: the token does not verify");
      }
    }
    double t = cpu_seconds() - start;
    lib.keldo_jwt_key_wipe(&k);
    return PyFloat_FromDouble(t);
  }
  if (PyUnicode_CompareWithASCIIString(what, "mint") == 0 && argc == 6) {
    bytes_arg key;
    const char *sub, *email;
    uint32_t ttl;
    char out[KELDO_JWT_TOKEN_MAX];
    uint64_t size;
    keldo_jwt_key k;
    if (get_bytes(args, 2, &key) || get_text(args, 3, &sub) || get_text(args, 4, &email) ||
        get_u32(args, 5, &ttl))
      return NULL;
    if (!LOADED(keldo_jwt_mint_k)) return NULL;
    if (lib.keldo_jwt_key_init(&k, key.p, (uint64_t)key.n) != 0) return PyErr_Format(PyExc_ValueError, "c_time: no key");
    double start = cpu_seconds();
    for (long i = 0; i < n; i++) {
      if (lib.keldo_jwt_mint_k(&k, sub, email, ttl, out, sizeof out, &size) != 0) {
        return PyErr_Format(PyExc_ValueError, "c_time: mint refused");
      }
    }
    double t = cpu_seconds() - start;
    lib.keldo_jwt_key_wipe(&k);
    return PyFloat_FromDouble(t);
  }
  return PyErr_Format(PyExc_ValueError, "c_time: what is 'verify' (key, token) or 'mint' (key, sub, email, ttl)");
}

/* ---- the module ---------------------------------------------------------- */

static PyMethodDef methods[] = {
  {"bind", ext_bind, METH_O, "bind(addresses): the library's functions, as FUNCTIONS names them"},
  {"setup", ext_setup, METH_VARARGS, "setup(refusal, Claims, library, KeldoError, key object class)"},
  {"status_text", ext_status_text, METH_O, NULL},
  {"secure_compare", ext_secure_compare, METH_VARARGS, NULL},
  {"sha256", ext_sha256, METH_O, NULL},
  {"hmac_sha256", ext_hmac_sha256, METH_VARARGS, NULL},
  {"pbkdf2_sha256", ext_pbkdf2_sha256, METH_VARARGS, NULL},
  {"base64_encode", ext_base64_encode, METH_VARARGS, NULL},
  {"base64_decode", ext_base64_decode, METH_VARARGS, NULL},
  {"uuid_generate", ext_uuid_generate, METH_NOARGS, NULL},
  {"jwt_mint", ext_jwt_mint, METH_VARARGS, NULL},
  {"jwt_verify", ext_jwt_verify, METH_VARARGS, NULL},
  {"remember", ext_remember, METH_VARARGS, "remember(secret, key): the key that passed the checks"},
  {"mint_k", ext_mint_k, METH_VARARGS, "mint_k(block, sub, email, ttl) -> str"},
  {"verify_k", ext_verify_k, METH_VARARGS, "verify_k(block, token) -> Claims"},
  {"password_hash", ext_password_hash, METH_VARARGS, NULL},
  {"password_encode", ext_password_encode, METH_VARARGS, NULL},
  {"password_verify", ext_password_verify, METH_VARARGS, NULL},
  {"password_needs_rehash", ext_password_needs_rehash, METH_VARARGS, NULL},
  {"password_parameters", ext_password_parameters, METH_O, NULL},
  {"c_time", ext_c_time, METH_VARARGS, NULL},
  {NULL, NULL, 0, NULL},
};

static struct PyModuleDef module = {
  PyModuleDef_HEAD_INIT, "keldo_crypto._ext",
  "The package's calls into the keldo-crypto library.", -1, methods, NULL, NULL, NULL, NULL,
};

PyMODINIT_FUNC PyInit__ext(void) {
  str_block = PyUnicode_InternFromString("_block");
  if (str_block == NULL) return NULL;
  PyObject *m = PyModule_Create(&module);
  if (m == NULL) return NULL;
  claims_base = PyType_FromSpec(&claims_spec);
  fast_type = PyType_FromSpec(&fast_spec);
  block_type = PyType_FromSpec(&block_spec);
  if (claims_base == NULL || fast_type == NULL || block_type == NULL) goto fail;
  Py_INCREF(block_type);
  if (PyModule_AddObject(m, "KeyBlock", block_type) < 0) goto fail;
  Py_INCREF(claims_base);
  if (PyModule_AddObject(m, "ClaimsBase", claims_base) < 0) goto fail;
  PyObject *names = PyTuple_New((Py_ssize_t)FUNCTION_COUNT);
  if (names == NULL) goto fail;
  for (size_t i = 0; i < FUNCTION_COUNT; i++) {
    PyObject *name = PyUnicode_FromString(lib_names[i]);
    if (name == NULL || PyTuple_SetItem(names, (Py_ssize_t)i, name) < 0) {
      Py_DECREF(names);
      goto fail;
    }
  }
  if (PyModule_AddObject(m, "FUNCTIONS", names) < 0) {
    Py_DECREF(names);
    goto fail;
  }
  Py_INCREF(fast_type);
  if (PyModule_AddObject(m, "TokenCall", fast_type) < 0) goto fail;
  return m;
fail:
  Py_DECREF(m);
  return NULL;
}

/* A scripted Direct3D 9 for the canvas's tests: an API object whose
 * devices and surfaces record every call the canvas makes and answer as the
 * test says (the cooperative level frame by frame, the primitives a draw
 * call may hold).
 * Written in C, where an interface is a table of function pointers that can
 * be filled by name; methods the canvas must not call fail the test run. */
#ifndef QRX_TESTS_FAKE_D3D9_H
#define QRX_TESTS_FAKE_D3D9_H

#include <d3d9.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

#define FAKE_D3D_MAX_CALLS 8192
#define FAKE_D3D_MAX_LEVELS 16

typedef struct FakeD3dCall {
  char name[32];
  intptr_t a, b, c, d; /* the call's arguments, in order (see fake_d3d9.c) */
} FakeD3dCall;

typedef struct FakeD3dLog {
  /* The script. */
  HRESULT levels[FAKE_D3D_MAX_LEVELS]; /* TestCooperativeLevel's answers in turn, then D3D_OK */
  int levelCount;
  DWORD maxPrimitiveCount; /* the device's capability; 0 means 0xFFFFF */

  /* What the canvas did. */
  FakeD3dCall calls[FAKE_D3D_MAX_CALLS];
  int callCount;
  D3DPRESENT_PARAMETERS params; /* of the last CreateDevice */
  HWND focusWindow;
  int devicesCreated;
  int alive;        /* objects handed out and not yet released */
  int nonZeroDepth; /* vertices drawn with z or reciprocal-w other than 0 */
  int levelNext;
} FakeD3dLog;

/* A new API object that records into `log` (zeroed by the caller, script
 * filled in). */
IDirect3D9* FakeD3dCreate(FakeD3dLog* log);

#ifdef __cplusplus
}
#endif

#endif

// ActiveX applications: creating the server object by ProgID, calling the method that its
// record names, and the general late-bound call by member name with a format of type letters.
#pragma once
#include <windows.h>
#include <oaidl.h>

struct ApplicationMethod;

// Creates the object of progId (in-process, local or remote server) and hands out one counted
// IDispatch reference in *server. On any failure *server stays null, the error info says
// "Unable to start ActiveX server" (the Launch class, ILaunch) and the result is E_FAIL;
// E_POINTER for a null server.
[[nodiscard]] HRESULT StartActiveXServer(BSTR progId, IDispatch** server);

// Calls an application's MethodName on server: with no arguments when no parameter type is set,
// else with parameters 1 to N as VT_BSTR VARIANTs, provided every one of their types is exactly
// "VT_VARIANT". Returns 1 when the method was called (whatever the call's outcome) or there was
// nothing to call, 0 when no call was made (a null server, or parameter types it does not pass).
int InvokeConfiguredMethod(const ApplicationMethod& method, IDispatch* server);

// Looks name up on dispatch and calls it with the arguments that follow, described by format:
// one letter per argument, in argument order, "&" before a letter passing a pointer to the
// value (VT_BYREF):
//   s  const wchar_t*  (copied into a BSTR for the call)   i  int (low 16 bits, VT_I2)
//   I  int (VT_I4)          r  double (VT_R4)               R  double (VT_R8)
//   b  int (VT_BOOL)        d  DATE (VT_DATE)               c  CY (VT_CY)
//   v  VARIANT (copied as it is; stays the caller's)       D  IDispatch*
//   U  IUnknown*            e  SCODE (VT_ERROR)
// A null format passes no arguments; a letter outside this list ends the list. A by-reference
// "b" has its target set to VARIANT_FALSE first. With DISPATCH_PROPERTYPUT the last argument
// is the value put. Returns the result of IDispatch::Invoke or of the step that failed.
HRESULT InvokeByName(IDispatch* dispatch, WORD flags, VARIANT* result, EXCEPINFO* exception, UINT* argumentError,
                     const wchar_t* name, const char* format, ...);

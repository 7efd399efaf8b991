# The program's identifiers, in one place. The type library description, the registration
# scripts and the C++ constants are all generated from these values.
set(CORVANE_LIBID      "2D5942CF-95ED-4ED8-B79B-3FD2988595A3")
set(CORVANE_CLSID_LAUNCH "F9A521B7-0896-4C41-A479-3C42043E6AB1")
set(CORVANE_IID_ILAUNCH  "32A426DC-B416-4F5C-9FCA-BA1A9442B167")
set(CORVANE_CLSID_MODULE "CA399A4D-85A6-4EF6-BA91-8CBC6FE1B992")
set(CORVANE_IID_IMODULE  "83DF27B8-905B-45B4-811A-8BF3F43D0218")
set(CORVANE_APPID      "15107340-BCFE-4F49-8B21-403E2D485BDE")
# The recording automation server that the tests build (tools/testserver.cpp); not part of
# the product.
set(CORVANE_CLSID_TESTSERVER "EF35A4D3-8D86-4767-AED7-D844271AB5F2")
# The tests' 32-bit in-process automation server (tools/inproc32); not part of the product.
set(CORVANE_CLSID_INPROC32TEST "D8976CFC-1B14-4858-A643-922807C315E6")

// The real platform: advapi32, kernel32 and the Universal CRT.
#pragma once

#include <windows.h>

#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <wchar.h>

#include "UrlEncode.h"

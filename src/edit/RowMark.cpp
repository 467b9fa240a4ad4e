#include "RowMark.h"

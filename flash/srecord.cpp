#include "flash/flash_image.h"

// The product version both libraries carry in their VERSIONINFO resources.
#pragma once

#define WHEEL_VERSION_MAJOR 1
#define WHEEL_VERSION_MINOR 0
#define WHEEL_VERSION_PATCH 0
#define WHEEL_VERSION_BUILD 0
#define WHEEL_VERSION_TEXT "1.0.0.0"
#define WHEEL_PRODUCT_NAME "Talvex DX USB Vibration Racing Wheel"
#define WHEEL_COMPANY_NAME "Talvex"

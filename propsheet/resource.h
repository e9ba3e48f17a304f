// Resource and control identifiers of the property-sheet library, shared by the resource script
// and the code (plain macros so the resource compiler reads them too).
#pragma once

#define IDI_WHEEL 102
#define IDD_TEST_PAGE 107
#define IDD_EFFECT_PAGE 108
#define IDD_CALIBRATION 109

// Lamps 1000..1012 hold buttons 1..13.
#define IDC_LAMP_FIRST 1000
#define IDC_LAMP_LAST 1012
#define IDC_AXES_XY 1013
#define IDC_AXES_ZRZ 1014
#define IDC_POV 1015
#define IDC_VALUE_X 1016
#define IDC_VALUE_Y 1017
#define IDC_VALUE_Z 1018
#define IDC_VALUE_RZ 1019
#define IDC_DEFAULT 1021
#define IDC_SET 1022
#define IDC_RUMBLE_PAD 1023
#define IDC_TEST_STATUS 1024
#define IDC_CALIBRATION_STATUS 1025
#define IDC_EFFECT_STATUS 1026
#define IDC_INTENSITY 1027
#define IDC_APPLY 1028

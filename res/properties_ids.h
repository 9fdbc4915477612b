// Resource ids of the Properties dialog (dialog 111). Plain macros so that the resource
// compiler and the C++ code read the same file.
#pragma once

#define IDD_PROPERTIES 111

#define IDC_PROP_NAME 1016
#define IDC_PROP_SIZE_LABEL 1017
#define IDC_PROP_CREATED 1018
#define IDC_PROP_MODIFIED 1019
#define IDC_PROP_EDIT_CREATED 1020
#define IDC_PROP_EDIT_MODIFIED 1021
#define IDC_PROP_ATTRIBUTES 1022
// One check box per mode bit: box IDC_PROP_MODE_FIRST + k stands for bit k.
#define IDC_PROP_MODE_FIRST 1023
#define IDC_PROP_MODE_LAST 1038
#define IDC_PROP_SUMMARY 1039
#define IDC_PROP_CREATED_ENTRY 1045
#define IDC_PROP_MODIFIED_ENTRY 1046

// Identifiers of the unit tests' own resources (unit_resources.rc), shared with the tests.
#pragma once

#define UNIT_BITMAP 201
#define UNIT_ICON 202
#define UNIT_CURSOR 203
// Custom data under the numeric resource type UNIT_DATA_TYPE and under the type name "QXDATA".
#define UNIT_DATA_NUMERIC 401
#define UNIT_DATA_TYPE 300
#define UNIT_DATA_NAMED 402
// No resource of any kind has this identifier.
#define UNIT_NO_RESOURCE 299

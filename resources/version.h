/* The component's version: file and product version are always the same. */
#define ATOMTABLES_VERSION_MAJOR 1
#define ATOMTABLES_VERSION_MINOR 0
#define ATOMTABLES_VERSION_BUILD 0
#define ATOMTABLES_VERSION_REVISION 1
#define ATOMTABLES_VERSION_BINARY 1, 0, 0, 1
#define ATOMTABLES_VERSION_TEXT "1.0.0.1"

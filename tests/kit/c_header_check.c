/* The public header and the export list as a plain C host with 8-byte
   pointers reads them (libkal_drv.so): compiled with -Wpedantic -Werror, its
   layout checks and the list must hold here too. */
#include "kal_drv.h"
#include "kal_exports.h"

/* Every row names a function of kal_drv.h with the row's type. */
#define KAL_C_POINTER(name, function, result, parameters) result(KAL_CDECL* check_##name) parameters = function;
KAL_EXPORTS(KAL_C_POINTER)
#undef KAL_C_POINTER

typedef char kal_twenty_exports[KAL_EXPORT_COUNT == 20 ? 1 : -1];

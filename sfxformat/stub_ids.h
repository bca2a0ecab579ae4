/* Where a carrier module keeps the stub programs: resources of the named
   type VARNOCK, the PE32 stub as 218 and the x86_64 one as 219 (which only
   the command-line tool carries). Plain macros, so that the resource
   scripts that embed the stubs read them too; C++ code uses the constants
   of sfxformat/sfx_format.h. */
#ifndef ORVANTA_SFXFORMAT_STUB_IDS_H
#define ORVANTA_SFXFORMAT_STUB_IDS_H

#define SFX_STUB_TYPE VARNOCK
#define SFX_STUB32_ID 218
#define SFX_STUB64_ID 219

#endif

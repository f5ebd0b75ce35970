// The Mach-O reader's option variables: exported data with C linkage,
// initialised once here and written by nothing in the system. With these
// values the scanner only normalises headers and collects library names.
#pragma once

#ifdef __cplusplus
extern "C" {
#endif

extern int object_processing;     /* 1: go on from archive handling to the object */
extern int Lflag;                 /* 1 */
extern int Dflag;                 /* 0: with !Lflag, print only the id name */
extern int raded_first_ofile_map; /* 1: lets fflag and Wflag print while mapping */
extern int aflag;
extern int Sflag;
extern int hflag;
extern int lflag;
extern int rflag;
extern int Tflag;
extern int Mflag;
extern int Rflag;
extern int Iflag;
extern int Hflag;
extern int tflag;
extern int iflag;
extern int dflag;
extern int oflag;
extern int cflag;
extern int vflag;
extern int Vflag;
extern int Xflag;
extern int Zflag;
extern int Wflag;
extern int fflag;
extern int Oflag;
extern char* pflag;
extern char* segname;
extern char* sectname;

#ifdef __cplusplus
}
#endif

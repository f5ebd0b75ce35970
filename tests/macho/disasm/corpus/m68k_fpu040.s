	.text
fstart:
	fmove.x %fp0,%fp1
	fadd.x %fp1,%fp2
	fsub.x %fp2,%fp2
	fmul.s #0r1.5,%fp0
	fdiv.d #0r2.5,%fp1
	fmove.l %d0,%fp3
	fmove.w %a0@,%fp4
	fmove.b %d1,%fp5
	fmove.x %a0@,%fp6
	fmove.p %a0@,%fp7
	fsqrt.x %fp0
	fssqrt.x %fp1,%fp2
	fdsqrt.x %fp1,%fp2
	fsadd.x %fp0,%fp1
	fdmul.x %fp0,%fp1
	fsin.x %fp0
	fcos.x %fp1,%fp2
	fsincos.x %fp0,%fp1:%fp2
	fsincos.s %a0@,%fp1:%fp2
	fcmp.x %fp0,%fp1
	ftst.x %fp0
	ftst.l %d0
	fabs.x %fp0
	fneg.d %a0@,%fp1
	fintrz.x %fp0,%fp1
	fgetexp.x %fp0
	fmovecr.x #0x32,%fp0
	fmove.l %fp0,%d0
	fmove.s %fp1,%a0@
	fmove.d %fp2,%a0@(8)
	fmove.x %fp3,%a0@-
	fmove.p %fp0,%a0@{#5}
	fmove.p %fp0,%a0@{%d1}
	fmove.l %fpcr,%d0
	fmove.l %d0,%fpsr
	fmovem.l %fpcr/%fpsr,%a0@
	fmovem.l %a0@,%fpcr/%fpsr/%fpiar
	fmovem.x %fp0-%fp3,%sp@-
	fmovem.x %sp@+,%fp0-%fp3
	fmovem.x %a0@,%fp2/%fp5
	fmovem.x %d1,%a0@
	fbeq fstart
	fbne.l fstart
	fbgt fstart
	fnop
	fdbne %d0,fstart
	fseq %d0
	fsgt %a0@
	ftrapeq
	ftrapne.w #1
	ftrapgt.l #2
	fsave %a0@
	frestore %a0@+
	cinva %dc
	cinvl %ic,%a0@
	cinvp %bc,%a1@
	cpusha %bc
	cpushl %dc,%a2@
	pflush %a0@
	pflushn %a1@
	pflusha
	pflushan
	ptestr %a0@
	ptestw %a1@
	move16 %a0@+,%a1@+
	move16 %a0@+,0x1000
	move16 0x2000,%a1@
	move16 %a2@,0x3000
	move16 0x4000,%a3@+
	nop

	.text
mstart:
	pmove %a0@,%tc
	pmove %tc,%a0@
	pmove %a0@,%srp
	pmove %crp,%a0@
	pmove %a0@,%tt0
	pmove %tt1,%a0@
	pmove %psr,%a0@
	pmovefd %a0@,%tc
	ploadw #1,%a0@
	ploadw %d0,%a0@
	ploadr %sfc,%a0@
	pflusha
	pflush #1,#2
	pflush %d0,#3,%a0@
	ptestr #1,%a0@,#7
	ptestw %dfc,%a0@,#3,%a1
	nop

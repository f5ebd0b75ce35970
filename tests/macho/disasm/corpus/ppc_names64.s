	.text
	tdeqi 3,16
	tdi 9,3,16
	ld 3,8(4)
	ldu 3,8(4)
	lwa 3,8(4)
	std 3,8(4)
	stdu 3,8(4)
	rldicl 3,4,5,6
	rldicr 3,4,5,6
	rldic 3,4,5,6
	rldimi 3,4,5,6
	rldcl 3,4,5,6
	rldcr 3,4,5,6
	cmpd 3,4
	cmpld 1,3,4
	cmpdi 3,5
	cmpldi 3,5
	tdeq 3,4
	td 9,3,4
	mulld 3,4,5
	mulhd 3,4,5
	mulhdu 3,4,5
	divd 3,4,5
	divdu 3,4,5
	lwaux 3,4,5
	ldux 3,4,5
	stdux 3,4,5
	sld 3,4,5
	srd 3,4,5
	srad 3,4,5
	cntlzd 3,4
	extsw 3,4
	ldarx 3,4,5
	ldx 3,4,5
	lwax 3,4,5
	stdx 3,4,5
	stdcx. 3,4,5
	sradi 3,4,40
	mtmsrd 3
	mtmsrd 3,1
	slbie 4
	slbia
	slbmte 3,4
	slbmfev 3,4
	slbmfee 3,4
	rfid
	fctid 1,2
	fctidz 1,2
	fcfid 1,2
	mfocrf 3,0x10
	mtocrf 0x10,3
	lwsync
	ptesync

! One instruction per line: the SPARC V8 instruction set in the manual's
! suggested syntax, then its synthetic instructions.
	.text
start:
	ldsb	[%g1+%g2], %o0
	ldsh	[%g1+8], %o1
	ldub	[%g1], %o2
	lduh	[%fp-4], %o3
	ld	[%i0+%i1], %l0
	ldd	[%sp+64], %l2
	ldsba	[%g1+%g2] 10, %o0
	ldsha	[%g1+%g2] 10, %o1
	lduba	[%g1+%g2] 10, %o2
	lduha	[%g1+%g2] 10, %o3
	lda	[%g1+%g2] 10, %o4
	ldda	[%g1+%g2] 10, %o6
	ld	[%g1+4], %f3
	ldd	[%g1+8], %f4
	ld	[%g1], %fsr
	ld	[%g1+12], %c5
	ldd	[%g1+16], %c6
	ld	[%g1], %csr
	stb	%o0, [%g1+%g2]
	sth	%o1, [%g1+2]
	st	%o2, [%g1]
	std	%o4, [%fp-16]
	stba	%o0, [%g1+%g2] 10
	stha	%o1, [%g1+%g2] 10
	sta	%o2, [%g1+%g2] 10
	stda	%o4, [%g1+%g2] 10
	st	%f7, [%g1+4]
	std	%f8, [%g1+8]
	st	%fsr, [%g1]
	std	%fq, [%g1]
	st	%c3, [%g1+4]
	std	%c4, [%g1+8]
	st	%csr, [%g1]
	std	%cq, [%g1]
	ldstub	[%g1+%g2], %o0
	ldstuba	[%g1+%g2] 10, %o1
	swap	[%g1+4], %o2
	swapa	[%g1+%g2] 10, %o3
	sethi	%hi(0x12345400), %g1
	nop
	and	%g1, %g2, %g3
	andcc	%g1, 0x7f, %g3
	andn	%g1, %g2, %g3
	andncc	%g1, -1, %g3
	or	%g1, %g2, %g3
	orcc	%g1, 0x10, %g3
	orn	%g1, %g2, %g3
	orncc	%g1, 4, %g3
	xor	%g1, %g2, %g3
	xorcc	%g1, 0x100, %g3
	xnor	%g1, %g2, %g3
	xnorcc	%g1, 1, %g3
	sll	%o1, 3, %o2
	srl	%o1, %o3, %o2
	sra	%o1, 31, %o2
	add	%l1, %l2, %l3
	addcc	%l1, 100, %l3
	addx	%l1, %l2, %l3
	addxcc	%l1, -100, %l3
	taddcc	%l1, %l2, %l3
	taddcctv	%l1, 8, %l3
	sub	%l1, %l2, %l3
	subcc	%l1, 3, %l3
	subx	%l1, %l2, %l3
	subxcc	%l1, 5, %l3
	tsubcc	%l1, %l2, %l3
	tsubcctv	%l1, 9, %l3
	mulscc	%o1, %o2, %o3
	umul	%o1, %o2, %o3
	smul	%o1, 12, %o3
	umulcc	%o1, %o2, %o3
	smulcc	%o1, -12, %o3
	udiv	%o1, %o2, %o3
	sdiv	%o1, 7, %o3
	udivcc	%o1, %o2, %o3
	sdivcc	%o1, -7, %o3
	save	%sp, -96, %sp
	restore	%i0, %i1, %o0
	ba	start
	bn	start
	bne	start
	be	start
	bg	start
	ble	start
	bge	start
	bl	start
	bgu	start
	bleu	start
	bcc	start
	bcs	start
	bpos	start
	bneg	start
	bvc	start
	bvs	start
	bne,a	start
	fba	start
	fbn	start
	fbu	start
	fbg	start
	fbug	start
	fbl	start
	fbul	start
	fblg	start
	fbne	start
	fbe	start
	fbue	start
	fbge	start
	fbuge	start
	fble	start
	fbule	start
	fbo	start
	fbe,a	start
	cba	start
	cbn	start
	cb3	start
	cb2	start
	cb23	start
	cb1	start
	cb13	start
	cb12	start
	cb123	start
	cb0	start
	cb03	start
	cb02	start
	cb023	start
	cb01	start
	cb013	start
	cb012	start
	call	start
	jmpl	%g1+%g2, %o7
	jmpl	%g1+8, %g3
	rett	%i7+8
	ta	3
	tn	%g1+%g2
	tne	5
	te	%g1+4
	tg	6
	tle	7
	tge	8
	tl	9
	tgu	10
	tleu	11
	tcc	12
	tcs	13
	tpos	14
	tneg	15
	tvc	16
	tvs	17
	rd	%y, %o1
	rd	%asr17, %o2
	rd	%psr, %o3
	rd	%wim, %o4
	rd	%tbr, %o5
	wr	%g1, %g2, %y
	wr	%g1, 5, %asr18
	wr	%g1, %g2, %psr
	wr	%g1, 6, %wim
	wr	%g1, %g2, %tbr
	stbar
	unimp	0x123
	flush	%g1+8
	fitos	%f1, %f2
	fitod	%f1, %f2
	fitoq	%f1, %f4
	fstoi	%f1, %f2
	fdtoi	%f2, %f3
	fqtoi	%f4, %f3
	fstod	%f1, %f2
	fstoq	%f1, %f4
	fdtos	%f2, %f3
	fdtoq	%f2, %f4
	fqtos	%f4, %f3
	fqtod	%f4, %f2
	fmovs	%f1, %f2
	fnegs	%f3, %f4
	fabss	%f5, %f6
	fsqrts	%f7, %f8
	fsqrtd	%f8, %f10
	fsqrtq	%f8, %f12
	fadds	%f1, %f2, %f3
	faddd	%f2, %f4, %f6
	faddq	%f4, %f8, %f12
	fsubs	%f1, %f2, %f3
	fsubd	%f2, %f4, %f6
	fsubq	%f4, %f8, %f12
	fmuls	%f1, %f2, %f3
	fmuld	%f2, %f4, %f6
	fmulq	%f4, %f8, %f12
	fsmuld	%f1, %f2, %f4
	fdmulq	%f2, %f4, %f8
	fdivs	%f1, %f2, %f3
	fdivd	%f2, %f4, %f6
	fdivq	%f4, %f8, %f12
	fcmps	%f1, %f2
	fcmpd	%f2, %f4
	fcmpq	%f4, %f8
	fcmpes	%f1, %f2
	fcmped	%f2, %f4
	fcmpeq	%f4, %f8
	cmp	%g1, %g2
	cmp	%g1, 10
	jmp	%g1+8
	call	%g1
	tst	%o0
	ret
	retl
	restore
	save
	not	%o1, %o2
	not	%o3
	neg	%o1, %o2
	neg	%o3
	inc	%o4
	inc	8, %o4
	inccc	%o5
	dec	%l4
	deccc	%l5
	btst	8, %o1
	bset	%o2, %o3
	bclr	16, %o4
	btog	%o5, %l0
	clr	%o1
	clr	[%g1+4]
	clrb	[%g1]
	clrh	[%g1+%g2]
	mov	%o1, %o2
	mov	100, %o3
	mov	%y, %o4
	mov	%o5, %y
	stub	%o0, [%g1]
	stsb	%o0, [%g1]
	stuh	%o0, [%g1]
	stsh	%o0, [%g1]

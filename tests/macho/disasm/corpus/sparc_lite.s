! The SPARClite additions, one instruction per line.
	.text
	divscc	%o1, %o2, %o3
	divscc	%o1, 5, %o3
	scan	%g1, %g2, %g3
	scan	%g1, -1, %g3

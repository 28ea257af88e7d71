; Placement the chip dictates: reset, resume and USB interrupt vectors, and the USB
; autovector table on a 256-byte boundary (the chip rewrites the byte at 0x0045).
	.module vectors

	.globl __sdcc_gsinit_startup
	.globl _resume_isr
	.globl _sudav_isr
	.globl _sof_isr
	.globl _sutok_isr
	.globl _suspend_isr
	.globl _ures_isr
	.globl _ep1in_isr
	.globl _ep1out_isr
	.globl _unexpected_isr

	.area VECTORS (ABS,CODE)

	.org 0x0000
	ljmp __sdcc_gsinit_startup

	.org 0x0033
	ljmp _resume_isr

	.org 0x0043
	ljmp autovector

	.org 0x0100
autovector:
	ljmp _sudav_isr
	.db 0
	ljmp _sof_isr
	.db 0
	ljmp _sutok_isr
	.db 0
	ljmp _suspend_isr
	.db 0
	ljmp _ures_isr
	.db 0
	ljmp _unexpected_isr	; reserved
	.db 0
	ljmp _unexpected_isr	; EP0 IN
	.db 0
	ljmp _unexpected_isr	; EP0 OUT
	.db 0
	ljmp _ep1in_isr
	.db 0
	ljmp _ep1out_isr
	.db 0
	.rept 12		; EP2 IN .. EP7 OUT
	ljmp _unexpected_isr
	.db 0
	.endm
